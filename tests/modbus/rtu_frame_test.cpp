// Frame bytes and CRC. The hex vectors were cross-checked against the frames
// that libmodbus 3.1.6 sends for the same requests (see
// libmodbus_frames_test.cpp, which repeats that check on every run).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

#include "frame_hex.h"
#include "result_code.h"
#include "rtu_frame.h"

namespace {

using ktr::test::Bytes;
using ktr::test::FromHex;
using ktr::test::ToHex;

TEST(Crc16, CheckValueOverDigits) {
  const char* text = "123456789";
  EXPECT_EQ(rtu::Crc16(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)), 0x4B37);
}

TEST(Crc16, FrameWithItsCrcGivesZero) {
  const Bytes frame = FromHex("01 03 1F 40 00 01 82 0A");
  EXPECT_EQ(rtu::Crc16(frame.data(), frame.size()), 0);
  Bytes flipped = frame;
  for (std::size_t i = 0; i < flipped.size() * 8; ++i) {
    flipped[i / 8] ^= static_cast<std::uint8_t>(1U << (i % 8));
    EXPECT_NE(rtu::Crc16(flipped.data(), flipped.size()), 0) << "bit " << i;
    flipped[i / 8] ^= static_cast<std::uint8_t>(1U << (i % 8));
  }
}

TEST(Crc16, AgreesWithBitwiseReferenceOverAllBytes) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  const Bytes withCrc = ktr::test::WithCrc(all);
  const std::uint16_t crc = rtu::Crc16(all.data(), all.size());
  EXPECT_EQ(crc & 0xFF, withCrc[256]);
  EXPECT_EQ(crc >> 8, withCrc[257]);
}

struct FrameCase {
  const char* name;
  std::function<std::size_t(std::uint8_t*)> build;
  const char* hex;
  friend void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }
};

class RequestFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(RequestFrames, BytesOnTheWire) {
  std::array<std::uint8_t, rtu::kFrameBufferSize> out{};
  const std::size_t n = GetParam().build(out.data());
  EXPECT_EQ(ToHex(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n))), GetParam().hex);
}

const std::uint16_t kThree[] = {1, 2, 10};
const std::uint8_t kCoils[] = {0xCD, 0x01};

INSTANTIATE_TEST_SUITE_P(
    AllFunctions, RequestFrames,
    ::testing::Values(
        FrameCase{"ReadHolding8000", [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 1, 3, 8000, 1); },
                  "01 03 1F 40 00 01 82 0A"},
        FrameCase{"ReadHolding128AtSlave247",
                  [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 247, 3, 8001, 128); },
                  "F7 03 1F 41 00 80 07 3C"},
        FrameCase{"ReadCoils", [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 1, 19, 10); },
                  "11 01 00 13 00 0A 4F 58"},
        FrameCase{"ReadDiscreteInputs",
                  [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 17, 2, 19, 10); },
                  "11 02 00 13 00 0A 0B 58"},
        FrameCase{"ReadInput", [](std::uint8_t* o) { return rtu::BuildReadRequest(o, 10, 4, 8, 2); },
                  "0A 04 00 08 00 02 F1 72"},
        FrameCase{"WriteSingleCoil",
                  [](std::uint8_t* o) { return rtu::BuildWriteSingleRequest(o, 17, 5, 25, 0xFF00); },
                  "11 05 00 19 FF 00 5F 6D"},
        FrameCase{"WriteSingleRegister",
                  [](std::uint8_t* o) { return rtu::BuildWriteSingleRequest(o, 1, 6, 10018, 4); },
                  "01 06 27 22 00 04 22 B7"},
        FrameCase{"WriteSingleZero",
                  [](std::uint8_t* o) { return rtu::BuildWriteSingleRequest(o, 1, 6, 0, 0); },
                  "01 06 00 00 00 00 89 CA"},
        FrameCase{"WriteThreeRegisters",
                  [](std::uint8_t* o) { return rtu::BuildWriteRegistersRequest(o, 1, 10001, 3, kThree); },
                  "01 10 27 11 00 03 06 00 01 00 02 00 0A 1B 63"},
        FrameCase{"WriteTenCoils",
                  [](std::uint8_t* o) { return rtu::BuildWriteCoilsRequest(o, 1, 19, 10, kCoils); },
                  "01 0F 00 13 00 0A 02 CD 01 72 CB"}),
    [](const ::testing::TestParamInfo<FrameCase>& p) { return std::string(p.param.name); });

// Length of the request that the builder of `function` makes for `count`.
std::size_t BuiltRequestLength(std::uint8_t function, std::uint16_t count) {
  std::array<std::uint8_t, rtu::kFrameBufferSize> out{};
  static const std::array<std::uint16_t, rtu::kMaxWriteRegisters> registers{};
  static const std::array<std::uint8_t, rtu::kMaxWriteBits / 8> coils{};
  switch (function) {
    case rtu::kWriteSingleCoil:
    case rtu::kWriteSingleRegister: return rtu::BuildWriteSingleRequest(out.data(), 1, function, 0, 0);
    case rtu::kWriteMultipleCoils: return rtu::BuildWriteCoilsRequest(out.data(), 1, 0, count, coils.data());
    case rtu::kWriteMultipleRegisters:
      return rtu::BuildWriteRegistersRequest(out.data(), 1, 0, count, registers.data());
    default: return rtu::BuildReadRequest(out.data(), 1, function, 0, count);
  }
}

struct LengthCase {
  std::uint8_t function;
  std::uint16_t count;
  std::size_t request;
  std::size_t reply;
};

TEST(FrameLengths, RequestAndExpectedReply) {
  const LengthCase cases[] = {
      {1, 8, 8, 6},     {1, 9, 8, 7},     {2, 1, 8, 6},   {2, 16, 8, 7},     {2, 17, 8, 8}, {3, 1, 8, 7},
      {3, 128, 8, 261}, {3, 147, 8, 299}, {4, 2, 8, 9},   {5, 1, 8, 8},      {6, 1, 8, 8},  {15, 10, 11, 8},
      {15, 16, 11, 8},  {15, 17, 12, 8},  {16, 3, 15, 8}, {16, 127, 263, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "function " << int(c.function) << " count " << c.count);
    EXPECT_EQ(BuiltRequestLength(c.function, c.count), c.request);
    EXPECT_EQ(rtu::ExpectedReplyLength(c.function, c.count), c.reply);
  }
  EXPECT_EQ(rtu::ExpectedReplyLength(7, 1), 0U);
}

TEST(FrameLengths, WhatFitsTheBuffers) {
  struct {
    std::uint8_t function;
    std::uint16_t count;
    bool fits;
  } const cases[] = {
      {3, 0, false},    {3, 1, true},     {3, 147, true},    {3, 148, false},
      {4, 148, false},  {16, 0, false},   {16, 127, true},   {16, 128, false},
      {6, 0, true},     {5, 0, true},     {1, 0, false},     {1, 2360, true},
      {1, 2361, false}, {15, 2040, true}, {15, 2041, false}, {7, 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rtu::Fits(c.function, c.count), c.fits)
        << "function " << int(c.function) << " count " << c.count;
    if (c.fits && rtu::IsKnownFunction(c.function)) {
      EXPECT_LE(BuiltRequestLength(c.function, c.count), rtu::kFrameBufferSize);
      EXPECT_LE(rtu::ExpectedReplyLength(c.function, c.count), rtu::kFrameBufferSize);
    }
  }
}

TEST(ResultCodes, ExceptionsMapBelowMinusFifty) {
  using namespace ktr::result;
  EXPECT_EQ(Exception(1), -51);
  EXPECT_EQ(Exception(2), -52);
  EXPECT_EQ(Exception(3), -53);
  EXPECT_EQ(Exception(4), -54);
  EXPECT_EQ(Exception(11), -61);
  EXPECT_EQ(Exception(255), -305);
  EXPECT_TRUE(IsException(Exception(1)));
  EXPECT_FALSE(IsException(kNoReply));
}

// --- finding the reply in the bytes of the line ------------------------------

namespace reply_scan {

using rtu::EchoRule;
using rtu::ReplyVerdict;

const Bytes kRead = ktr::test::WithCrc(FromHex("05 03 1F 40 00 01"));  // address 5, 8000, one register
const Bytes kReply = ktr::test::WithCrc(FromHex("05 03 02 00 2A"));
const Bytes kWrite = ktr::test::WithCrc(FromHex("05 06 27 10 00 07"));

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct ScanCase {
  const char* name;
  bool write;  // the request is kWrite, else kRead
  EchoRule echo;
  Bytes line;  // what the line delivered
  bool final;
  ReplyVerdict verdict;
  std::size_t start;  // where the reply is, for kReply
  bool echoSeen;
};

void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.name; }

class ScanReplyTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanReplyTest, FindsTheReplyOrNot) {
  const ScanCase& c = GetParam();
  const Bytes& request = c.write ? kWrite : kRead;
  const rtu::ReplyRule rule{request.data(), request.size(), c.write ? 8U : 7U, c.echo};
  const rtu::ReplyScan scan = rtu::ScanReply(rule, c.line.data(), c.line.size(), c.final);
  EXPECT_EQ(static_cast<int>(scan.verdict), static_cast<int>(c.verdict));
  if (c.verdict == ReplyVerdict::kReply) {
    EXPECT_EQ(scan.start, c.start);
  }
  EXPECT_EQ(scan.echoSeen, c.echoSeen);
}

const Bytes kOtherAddress = ktr::test::WithCrc(FromHex("04 03 02 DE AD"));
const Bytes kOtherFunction = ktr::test::WithCrc(FromHex("05 04 02 DE AD"));
const Bytes kOtherCount = ktr::test::WithCrc(FromHex("05 03 04 DE AD BE EF"));
const Bytes kOtherWrite = ktr::test::WithCrc(FromHex("05 06 27 11 00 07"));
const Bytes kException = ktr::test::WithCrc(FromHex("05 83 02"));

INSTANTIATE_TEST_SUITE_P(
    Rtu, ScanReplyTest,
    ::testing::Values(
        ScanCase{"Reply", false, EchoRule::kDrop, kReply, false, ReplyVerdict::kReply, 0, false},
        ScanCase{"PartOfAReplyWaits", false, EchoRule::kDrop, FromHex("05 03 02 00"), false,
                 ReplyVerdict::kWaiting, 0, false},
        ScanCase{"PartOfAReplyAtTheDeadline", false, EchoRule::kDrop, FromHex("05 03 02 00"), true,
                 ReplyVerdict::kNone, 0, false},
        ScanCase{"NothingAtTheDeadline", false, EchoRule::kDrop, {}, true, ReplyVerdict::kNone, 0, false},
        ScanCase{"EchoThenReply", false, EchoRule::kDrop, Cat({kRead, kReply}), false, ReplyVerdict::kReply,
                 8, true},
        ScanCase{"EchoAlone", false, EchoRule::kDrop, kRead, true, ReplyVerdict::kNone, 0, true},
        ScanCase{"StartOfTheEchoWaits", false, EchoRule::kDrop, FromHex("05 03 1F 40"), false,
                 ReplyVerdict::kWaiting, 0, false},
        ScanCase{"EchoNotDroppedWhenOff", false, EchoRule::kNone, Cat({kRead, kReply}), true,
                 ReplyVerdict::kNoise, 0, false},
        ScanCase{"OneNoiseByte", false, EchoRule::kDrop, Cat({FromHex("00"), kReply}), false,
                 ReplyVerdict::kReply, 1, false},
        ScanCase{"NoiseLikeTheAddress", false, EchoRule::kDrop, Cat({FromHex("05"), kReply}), false,
                 ReplyVerdict::kReply, 1, false},
        ScanCase{"FourNoiseBytes", false, EchoRule::kDrop, Cat({FromHex("FF 00 FF 00"), kReply}), false,
                 ReplyVerdict::kReply, 4, false},
        ScanCase{"FiveNoiseBytes", false, EchoRule::kDrop, Cat({FromHex("FF 00 FF 00 FF"), kReply}), false,
                 ReplyVerdict::kNoise, 0, false},
        ScanCase{"NoiseBeforeAnIncompleteFrameHeader", false, EchoRule::kDrop,
                 Cat({FromHex("00 03"), kReply}), false, ReplyVerdict::kReply, 2, false},
        ScanCase{"OtherAddressDropped", false, EchoRule::kDrop, Cat({kOtherAddress, kReply}), false,
                 ReplyVerdict::kReply, 7, false},
        ScanCase{"OtherAddressAlone", false, EchoRule::kDrop, kOtherAddress, true, ReplyVerdict::kNone, 0,
                 false},
        ScanCase{"OtherFunctionDropped", false, EchoRule::kDrop, Cat({kOtherFunction, kReply}), false,
                 ReplyVerdict::kReply, 7, false},
        ScanCase{"OtherAddressWith128RegistersDropped", false, EchoRule::kDrop,
                 Cat({ktr::test::WithCrc(Cat({FromHex("04 03 00"), Bytes(256, 0xA5)})), kReply}), false,
                 ReplyVerdict::kReply, 261, false},
        ScanCase{"OtherByteCountDropped", false, EchoRule::kDrop, Cat({kOtherCount, kReply}), false,
                 ReplyVerdict::kReply, 9, false},
        ScanCase{"EchoNoiseAndOtherDevice", false, EchoRule::kDrop,
                 Cat({kRead, FromHex("00"), kOtherAddress, kReply}), false, ReplyVerdict::kReply, 16, true},
        ScanCase{"ExceptionReply", false, EchoRule::kDrop, kException, false, ReplyVerdict::kException, 0,
                 false},
        ScanCase{"CutExceptionAtTheDeadline", false, EchoRule::kDrop, FromHex("05 83 02"), true,
                 ReplyVerdict::kException, 0, false},
        ScanCase{"ExceptionOfAnotherFunctionDropped", false, EchoRule::kDrop,
                 Cat({ktr::test::WithCrc(FromHex("05 84 02")), kReply}), false, ReplyVerdict::kReply, 5,
                 false},
        ScanCase{"FullReplyBadCrc", false, EchoRule::kDrop, FromHex("05 03 02 00 2A 00 00"), false,
                 ReplyVerdict::kBadCrc, 0, false},
        ScanCase{"WriteReply", true, EchoRule::kNone, kWrite, false, ReplyVerdict::kReply, 0, false},
        ScanCase{"WriteEchoIsNoReply", true, EchoRule::kRequired, kWrite, true, ReplyVerdict::kNone, 0, true},
        ScanCase{"WriteEchoThenReply", true, EchoRule::kRequired, Cat({kWrite, kWrite}), false,
                 ReplyVerdict::kReply, 8, true},
        ScanCase{"ReplyToAnotherWriteDropped", true, EchoRule::kNone, Cat({kOtherWrite, kWrite}), false,
                 ReplyVerdict::kReply, 8, false}),
    [](const ::testing::TestParamInfo<ScanCase>& p) { return std::string(p.param.name); });

// Whether a late reply of the first request would pass as the second's.
TEST(RepliesConfusable, OnlyWhenTheReplyLooksTheSame) {
  const auto confusable = [](const std::string& earlier, const std::string& later) {
    return rtu::RepliesConfusable(FromHex(earlier).data(), FromHex(later).data());
  };
  EXPECT_TRUE(confusable("05 03 1F 40 00 01", "05 03 27 10 00 01"));   // another register, one each
  EXPECT_FALSE(confusable("05 03 1F 40 00 01", "05 03 1F 40 00 02"));  // another quantity
  EXPECT_TRUE(confusable("05 01 00 00 00 09", "05 01 00 10 00 10"));   // 9 and 16 coils: two bytes each
  EXPECT_FALSE(confusable("05 03 1F 40 00 01", "05 04 1F 40 00 01"));  // another function
  EXPECT_FALSE(confusable("05 03 1F 40 00 01", "06 03 1F 40 00 01"));  // another device
  EXPECT_TRUE(confusable("05 06 27 10 00 07", "05 06 27 10 00 07"));   // the same write
  EXPECT_FALSE(confusable("05 06 27 10 00 07", "05 06 27 10 00 08"));  // another value
  EXPECT_FALSE(confusable("05 10 27 10 00 02", "05 10 27 10 00 03"));  // another count
}

// An exception that may be an earlier request's late one is held: a reply
// behind it wins, and alone at the deadline it is the request's own.
TEST(ScanReplyHeld, ExceptionGivesWayToAReplyBehindIt) {
  const Bytes read = ktr::test::WithCrc(FromHex("05 03 1F 40 00 01"));
  const Bytes exception = ktr::test::WithCrc(FromHex("05 83 02"));
  const Bytes reply = ktr::test::WithCrc(FromHex("05 03 02 00 2A"));
  rtu::ReplyRule rule{read.data(), read.size(), 7, rtu::EchoRule::kNone};
  rule.lateExceptionPossible = true;
  Bytes both = exception;
  both.insert(both.end(), reply.begin(), reply.end());
  EXPECT_EQ(rtu::ScanReply(rule, exception.data(), exception.size(), false).verdict,
            rtu::ReplyVerdict::kWaiting);
  const rtu::ReplyScan alone = rtu::ScanReply(rule, exception.data(), exception.size(), true);
  EXPECT_EQ(alone.verdict, rtu::ReplyVerdict::kException);
  EXPECT_EQ(alone.code, 2);
  const rtu::ReplyScan behind = rtu::ScanReply(rule, both.data(), both.size(), false);
  EXPECT_EQ(behind.verdict, rtu::ReplyVerdict::kReply);
  EXPECT_EQ(behind.start, 5U);
}

struct WireCase {
  std::int32_t baud;
  std::uint8_t dataBits, parity, stopBits;
  std::int64_t characterNs, quietNs;
};

TEST(LineTiming, CharacterAndQuietTimes) {
  for (const WireCase& c : {WireCase{19200, 8, 2, 0, 572916, 2005206},     // 8E1: 11 bits
                            WireCase{9600, 8, 0, 0, 1041666, 3645831},     // 8N1: 10 bits
                            WireCase{1200, 8, 1, 2, 10000000, 35000000},   // 8O2: 12 bits
                            WireCase{1200, 5, 0, 1, 6250000, 21875000},    // 5N1.5: 7.5 bits
                            WireCase{115200, 8, 2, 0, 95486, 1750000}}) {  // fixed 1.75 ms
    SCOPED_TRACE(c.baud);
    EXPECT_EQ(rtu::CharacterTimeNs(c.baud, c.dataBits, c.parity, c.stopBits), c.characterNs);
    EXPECT_EQ(rtu::QuietTimeNs(c.baud, c.dataBits, c.parity, c.stopBits), c.quietNs);
  }
}

}  // namespace reply_scan

}  // namespace
