// Cutting fields out of a request's parameter text and converting their
// values: the raw text is used byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "request_fields.h"

namespace {

using ktr::FieldConversionError;
using ktr::FieldInteger;
using ktr::FieldKey;
using ktr::FieldValue;
using ktr::TwoDigitPiece;
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Walk(const std::string& text) {
  Pairs pairs;
  ktr::ForEachField(
      text, [&](const std::string& key, const std::string& value) { pairs.emplace_back(key, value); });
  return pairs;
}

TEST(RequestFields, WalkYieldsThePairsInOrder) {
  const struct {
    std::string text;
    Pairs pairs;
  } cases[] = {
      {"day=mon&idx=3", {{"day", "mon"}, {"idx", "3"}}},
      {"idx=3&", {{"idx", "3"}}},
      {"=5&idx=3", {}},  // an empty first key ends the walk at once
      {"idx=&day=mon", {{"idx", ""}, {"day", "mon"}}},
      {"ab&day=mon", {{"ab&day", "mon"}}},  // a piece without "=" joins the next key
      {"", {}},
      {"idx", {}},
      {"idx=3&day", {{"idx", "3"}}},  // no "=" left
      {"a=1&&b=2", {{"a", "1"}, {"&b", "2"}}},
      {"a==b&c=d", {{"a", "=b"}, {"c", "d"}}},
      {"tp_time=12%3A30&x=+1", {{"tp_time", "12%3A30"}, {"x", "+1"}}},  // no decoding
      {"idx=", {{"idx", ""}}},
      {"day=mon&day=tue", {{"day", "mon"}, {"day", "tue"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(Walk(c.text), c.pairs);
  }
}

TEST(RequestFields, KeyAndValueAtAPosition) {
  EXPECT_EQ(FieldKey("tmpe=5", 0), "tmpe");
  EXPECT_EQ(FieldKey("tmpe=5&dtpe=6", 7), "dtpe");
  EXPECT_EQ(FieldKey("tmpe", 0), "");
  EXPECT_EQ(FieldKey("tmpe=5", 6), "");
  EXPECT_EQ(FieldKey("tmpe=5", 60), "");
  EXPECT_EQ(FieldKey("=5", 0), "");
  EXPECT_EQ(FieldValue("tmpe=5&dtpe=6", 5), "5");
  EXPECT_EQ(FieldValue("tmpe=5", 5), "5");
  EXPECT_EQ(FieldValue("tmpe=", 5), "");
  EXPECT_EQ(FieldValue("tmpe=5", 60), "");
  EXPECT_EQ(FieldValue("tmpe=&x", 5), "");
}

TEST(RequestFields, FirstFieldOnly) {
  const struct {
    std::string text, key, value;
  } cases[] = {
      {"cdir=1&crpt=2", "cdir", "1"},
      {"tmpe=5", "tmpe", "5"},
      {"tmpe=", "tmpe", ""},
      {"", "", ""},
      {"=5", "", "5"},  // the empty key is known to no setting
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    const std::string key = FieldKey(c.text, 0);
    EXPECT_EQ(key, c.key);
    EXPECT_EQ(FieldValue(c.text, key.size() + 1), c.value);
  }
}

TEST(RequestFields, IntegerConversion) {
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"0", 0},
      {"42", 42},
      {" 42", 42},
      {"   7", 7},
      {"+7", 7},
      {"-1", -1},
      {" -5", -5},
      {"00012", 12},
      {"70000", 70000},
      {"0x10", 16},
      {"0X10", 16},
      {"$10", 16},
      {"x10", 16},
      {"X1f", 31},
      {"$fF", 255},
      {"0xABCD", 0xABCD},
      {"-0x10", -16},
      {"-$10", -16},
      {"0x000000000010", 16},
      {"2147483647", std::numeric_limits<std::int32_t>::max()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"0x7FFFFFFF", std::numeric_limits<std::int32_t>::max()},
      {"-0x80000000", std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("value: '" + c.text + "'");
    EXPECT_EQ(FieldInteger(c.text), c.value);
  }
}

TEST(RequestFields, IntegerConversionFailures) {
  const std::string cases[] = {
      "",    " ",   "42 ",         "4 2",         "+",          "-",           "+-1",
      "--1", "- 5", "0x",          "$",           "x",          "1a",          "0x1G",
      "1.5", "1e3", "3A",          "12%3A30",     "2147483648", "-2147483649", "0x80000000",
      "mon", "5\n", "99999999999", "0x100000000", "\xB0",
  };
  for (const std::string& c : cases) {
    SCOPED_TRACE("value: '" + c + "'");
    try {
      FieldInteger(c);
      ADD_FAILURE() << "converted";
    } catch (const FieldConversionError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c + "' is not a valid integer value");
    }
  }
}

TEST(RequestFields, TwoDigitPieces) {
  EXPECT_EQ(TwoDigitPiece("2024-02-29", 3), 24);
  EXPECT_EQ(TwoDigitPiece("2024-02-29", 6), 2);
  EXPECT_EQ(TwoDigitPiece("2024-02-29", 9), 29);
  EXPECT_EQ(TwoDigitPiece("12:05:09", 1), 12);
  EXPECT_EQ(TwoDigitPiece("12:05:09", 4), 5);
  EXPECT_EQ(TwoDigitPiece("12:05:09", 7), 9);
  EXPECT_EQ(TwoDigitPiece("07:30", 1), 7);
  EXPECT_EQ(TwoDigitPiece("07:30", 4), 30);
  // The separators are never looked at.
  EXPECT_EQ(TwoDigitPiece("12x34y56", 4), 34);
  // A value that ends inside a piece gives the characters that are there.
  EXPECT_EQ(TwoDigitPiece("12:5", 4), 5);
  EXPECT_EQ(TwoDigitPiece("8", 1), 8);
  // A two-digit year in place of four puts the separators into the pieces.
  EXPECT_EQ(TwoDigitPiece("24-02-29", 3), 0);   // "-0"
  EXPECT_EQ(TwoDigitPiece("24-02-29", 6), -2);  // "-2"
}

TEST(RequestFields, TwoDigitPieceFailures) {
  const struct {
    std::string value;
    std::size_t position;
    std::string failed;  // the piece named in the error text
  } cases[] = {
      {"24-02-29", 9, ""},  // too short for the day piece
      {"2024-0x-29", 6, "0x"}, {"12:30", 7, ""}, {"12%3A30", 4, "3A"},
      {"7:30", 1, "7:"},       {"", 1, ""},      {"12:3", 5, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("value: '" + c.value + "' at " + std::to_string(c.position));
    try {
      TwoDigitPiece(c.value, c.position);
      ADD_FAILURE() << "converted";
    } catch (const FieldConversionError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.failed + "' is not a valid integer value");
    }
  }
}

}  // namespace
