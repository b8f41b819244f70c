// The configuration file: the layout backup writes, and the checks that keep
// a truncated, edited or foreign file from reaching a device.
#include <gtest/gtest.h>

#include <string>

#include "config_document.h"

namespace ktr::test {
namespace {

DeviceConfiguration Sample() {
  DeviceConfiguration c;
  c.firmware = "KTR Clock fw 0.35.4 \xC2\xB0";
  c.firmwareVersion = 0x002304;
  c.address = 3;
  c.taken = "2024-05-01T07:30:00Z";
  c.display = {10, 3, 0, 3, 3, 65535};
  c.counter = {0, 1, 2, 3, 4, 5, 6};
  c.tz = 65535;  // -1 h
  c.dst = 1;
  for (std::size_t i = 0; i < c.settings.size(); ++i) c.settings[i] = static_cast<std::uint16_t>(i + 1);
  for (std::size_t d = 0; d < c.schedule.size(); ++d) {
    for (std::size_t w = 0; w < c.schedule[d].size(); ++w)
      c.schedule[d][w] = static_cast<std::uint16_t>(d * 100 + w);
  }
  c.schedule[1][2] = 0x071E;  // mon plan[0] time 07:30
  c.schedule[2][5] = 60;      // tue plan[1]: no time, "00:60"
  c.schedule[3][8] = 0xFFFF;  // wed plan[2]: "255:255", what a register can hold
  c.configStatus = 1;
  return c;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(ConfigDocument, LayoutIsStableAndReadsBackWhole) {
  const DeviceConfiguration c = Sample();
  const std::string text = ConfigurationJson(c);
  EXPECT_EQ(ParseConfiguration(text), c);
  EXPECT_EQ(ConfigurationJson(ParseConfiguration(text)), text);
  // The reply keys and the layout of docs/config-file.md.
  EXPECT_EQ(
      text.rfind("{\n  \"format\": \"ktr-configuration\",\n  \"format_version\": 2,\n"
                 "  \"firmware\": \"KTR Clock fw 0.35.4 \xC2\xB0\",\n  \"firmware_version\": \"0.35.4\",\n"
                 "  \"address\": 3,\n",
                 0),
      0U);
  EXPECT_NE(text.find("  \"display\": {\"tmpe\": 10, \"dtpe\": 3, \"cdpe\": 0, \"s1pe\": 3, \"s2pe\": 3, "
                      "\"stpe\": 65535},\n"),
            std::string::npos);
  EXPECT_NE(
      text.find(
          "  \"counter\": {\"cdir\": 0, \"lm_d\": 1, \"lm_h\": 2, \"lm_m\": 3, \"lm_s\": 4, \"rlpe\": 5, "
          "\"crpt\": 6},\n  \"time\": {\"tz\": 65535, \"dst\": 1},\n  \"settings\": "),
      std::string::npos);
  EXPECT_NE(text.find("    \"mon\": {\n      \"ena\": 100,\n      \"plan\": [\n"
                      "        {\"status\": 101, \"time\": \"07:30\", \"len\": 103},\n"),
            std::string::npos);
  // A length entry lists bb, eb, ws; the device keeps ws, bb, eb.
  EXPECT_NE(text.find("      \"cfg\": [\n        {\"len_bb\": 62, \"len_eb\": 63, \"len_ws\": 61},\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"time\": \"00:60\""), std::string::npos);
  EXPECT_NE(text.find("\"time\": \"255:255\""), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 34), "  \"config_status\": {\"value\": 1}\n}\n");
  // Any JSON layout reads: the same document in one line.
  std::string oneLine;
  for (char ch : text) {
    if (ch != '\n') oneLine += ch;
  }
  EXPECT_EQ(ParseConfiguration(oneLine), c);
}

TEST(ConfigDocument, BadFilesAreRefusedNamingTheKeyAndTheReason) {
  const std::string good = ConfigurationJson(Sample());
  struct Case {
    std::string text;
    std::string error;
  } const cases[] = {
      {good.substr(0, good.size() / 2), "not a JSON document (at byte "},
      {"", "not a JSON document (at byte 0: The document is empty.)"},
      {"[1, 2]", "not a configuration file: the document is no JSON object"},
      {good + "{}", "not a JSON document (at byte "},
      {Replaced(good, "\"ktr-configuration\"", "\"other-tool\""),
       "format: \"other-tool\" is not \"ktr-configuration\" (a file of another kind)"},
      {R"({"registers": [1, 2, 3]})", "format: missing (not a configuration file)"},
      {Replaced(good, "\"format_version\": 2", "\"format_version\": 3"),
       "format_version: 3 is not supported (this program reads versions 1 and 2)"},
      {Replaced(good, "\"dst\": 1", "\"dst\": 70000"), "time.dst: 70000 is out of range (0 to 65535)"},
      {Replaced(good, "  \"time\": {\"tz\": 65535, \"dst\": 1},\n", ""), "time: missing"},
      // Version 1 had no time zone and daylight saving.
      {Replaced(good, "\"format_version\": 2", "\"format_version\": 1"), "time: unknown key"},
      {Replaced(good, "\"cdir\": 0, ", ""), "counter.cdir: missing"},
      {Replaced(good, "\"tmpe\": 10", "\"tmpx\": 10"), "display.tmpe: missing"},
      {Replaced(good, "\"tmpe\": 10,", "\"tmpe\": 10, \"tmpx\": 1,"), "display.tmpx: unknown key"},
      {Replaced(good, "\"tmpe\": 10,", "\"tmpe\": 10, \"tmpe\": 11,"), "display.tmpe: given twice"},
      {Replaced(good, "\"address\": 3,", "\"address\": 3, \"comment\": \"x\","), "comment: unknown key"},
      {Replaced(good, "\"lm_d\": 1", "\"lm_d\": 70000"), "counter.lm_d: 70000 is out of range (0 to 65535)"},
      {Replaced(good, "\"lm_d\": 1", "\"lm_d\": -1"), "counter.lm_d: -1 is out of range (0 to 65535)"},
      {Replaced(good, "\"lm_d\": 1", "\"lm_d\": 18446744073709551615"),
       "counter.lm_d: 18446744073709551615 is out of range (0 to 65535)"},
      {Replaced(good, "\"lm_d\": 1", "\"lm_d\": 1.5"), "counter.lm_d: 1.5 is not a whole number"},
      {Replaced(good, "\"s1ad\": 6", "\"s1ad\": \"6\""), "settings.s1ad: \"6\" is not a whole number"},
      {Replaced(good, "\"s1ad\": 6", "\"s1ad\": null"), "settings.s1ad: null is not a whole number"},
      {Replaced(good, "\"time\": \"07:30\"", "\"time\": \"7.30\""),
       "schedule.mon.plan[0].time: \"7.30\" is not a time HH:MM (hour and minute 0 to 255 each)"},
      {Replaced(good, "\"time\": \"07:30\"", "\"time\": \"07:300\""),
       "schedule.mon.plan[0].time: \"07:300\" is not a time HH:MM (hour and minute 0 to 255 each)"},
      {Replaced(good, "{\"status\": 101, \"time\": \"07:30\", \"len\": 103},\n", ""),
       "schedule.mon.plan: has 19 entries instead of 20"},
      {Replaced(good, "\"len\": 103}", "\"len\": 103, \"note\": 1}"),
       "schedule.mon.plan[0].note: unknown key"},
      {Replaced(good, "\"ena\": 100,", "\"ena\": 100, \"plan2\": [],"), "schedule.mon.plan2: unknown key"},
      {Replaced(good, "\"sat\": {", "\"sun\": {"), "schedule.sat: missing"},
      {Replaced(good, "\"firmware_version\": \"0.35.4\"", "\"firmware_version\": \"0.35\""),
       "firmware_version: \"0.35\" is not a version MAJOR.MINOR.PATCH (0 to 255 each)"},
      {Replaced(good, "\"address\": 3", "\"address\": 0"), "address: 0 is out of range (1 to 247)"},
      {Replaced(good, "{\"value\": 1}", "1"), "config_status: 1 is not an object"},
  };
  for (const Case& c : cases) {
    try {
      ParseConfiguration(c.text);
      ADD_FAILURE() << "accepted, expected: " << c.error;
    } catch (const ConfigFileError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error);
    }
  }
}

TEST(ConfigDocument, AVersionOneFileLoadsWithoutTimeZoneAndDaylightSaving) {
  const std::string two = ConfigurationJson(Sample());
  const std::string one = Replaced(Replaced(two, "\"format_version\": 2", "\"format_version\": 1"),
                                   "  \"time\": {\"tz\": 65535, \"dst\": 1},\n", "");
  const DeviceConfiguration c = ParseConfiguration(one);
  EXPECT_FALSE(c.hasTime);
  EXPECT_EQ(ConfigurationJson(c), one);  // written back as it was read
  DeviceConfiguration expected = Sample();
  expected.hasTime = false;
  expected.tz = expected.dst = 0;
  EXPECT_EQ(c, expected);
}

TEST(ConfigDocument, VersionTexts) {
  std::uint32_t v = 0;
  EXPECT_TRUE(ParseVersionText("0.35.4", v));
  EXPECT_EQ(v, 0x2304U);
  EXPECT_EQ(VersionText(v), "0.35.4");
  for (const char* bad : {"", "1.2", "1.2.3.4", "1.2.256", "a.b.c", "1..2", "1.2.3 "}) {
    EXPECT_FALSE(ParseVersionText(bad, v)) << bad;
  }
}

}  // namespace
}  // namespace ktr::test
