// A throw-away web root for the web tests: a temporary folder holding "Web"
// with a few pages, pictures and folders, plus files outside "Web" that no
// request may ever reach. Removed with everything in it by the destructor.
#pragma once

#include <string>
#include <string_view>

namespace ktr::test {

class TempWebRoot {
 public:
  TempWebRoot();
  ~TempWebRoot();
  TempWebRoot(const TempWebRoot&) = delete;
  TempWebRoot& operator=(const TempWebRoot&) = delete;

  // The "Web" folder: what the server is given as its root.
  const std::string& root() const { return root_; }
  // The temporary folder that holds "Web" and the secret files.
  const std::string& base() const { return base_; }

  // Writes `content` to `relative` below root() (folders created).
  void Write(std::string_view relative, std::string_view content) const;
  // Content of a file below root() as written.
  std::string Read(std::string_view relative) const;

  // Text of the secret files beside and above the root; no reply may hold it.
  static constexpr std::string_view kSecret = "TOP-SECRET-6c1f";

 private:
  std::string base_;
  std::string root_;
};

}  // namespace ktr::test
