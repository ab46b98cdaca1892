#include "stream/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "tests/support/loopback.h"

namespace zenta::stream {
namespace {

using zenta::testing::messageHeader;

MessageHeader header(double stamp, int32_t code) {
  const std::string bytes = messageHeader(stamp, code);
  return parseHeader(reinterpret_cast<const uint8_t*>(bytes.data()));
}

std::optional<InfoText> info(std::string_view text) {
  return parseInfo(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string field(const std::array<char, 21>& f) {
  return std::string(f.data());
}

TEST(Commands, ExactBytes) {
  EXPECT_EQ(formatConnect(7), "CONNECT 7 1\r\n");
  EXPECT_EQ(formatConnect(16), "CONNECT 16 1\r\n");
  EXPECT_EQ(formatPause(7), "007 PAUSE\r\n");
  EXPECT_EQ(formatPause(16), "016 PAUSE\r\n");
  EXPECT_EQ(formatPause(16).size(), 11u);
  EXPECT_EQ(formatResume(7), "007 RESUME\r\n");
  for (int channel = 1; channel <= 16; ++channel)
    EXPECT_EQ(formatResume(channel).size(), 12u);
  EXPECT_EQ(formatLogin(7, kGuestAccount, kGuestPassword), "007 SetPass -7 guest mirel\r\n");
  EXPECT_EQ(formatLogin(12, "admin", "s3cret"), "012 SetPass -12 admin s3cret\r\n");
  EXPECT_EQ(formatCameraCommand(3, "zoomin", "admin", "pw"), "003 zoomin\r\n003 ^admin pw\r\n");
}

TEST(Commands, LongTextsAreNotCut) {
  const std::string account(39, 'a');
  const std::string password(39, 'p');
  EXPECT_EQ(formatLogin(16, account, password),
            "016 SetPass -16 " + account + " " + password + "\r\n");
  const std::string camera = formatCameraCommand(16, "zoomstop", account, password);
  EXPECT_EQ(camera, "016 zoomstop\r\n016 ^" + account + " " + password + "\r\n");
}

TEST(Commands, CameraWordsInButtonOrder) {
  const char* expected[] = {"up",      "left",    "right",    "down",    "preset1", "preset2",
                            "preset3", "preset4", "preset5",  "preset6", "preset7", "preset8",
                            "zoomin",  "zoomout", "zoomstop", "stop"};
  ASSERT_EQ(kCameraCommands.size(), 16u);
  for (size_t i = 0; i < 16; ++i)
    EXPECT_EQ(kCameraCommands[i], expected[i]) << i;
}

TEST(Header, LengthCodes) {
  EXPECT_EQ(header(1, 0).kind, MessageKind::TimeTick);
  EXPECT_EQ(header(1, 0).payloadLength, 0u);

  EXPECT_EQ(header(1, 1).kind, MessageKind::VideoFrame);
  EXPECT_EQ(header(1, 1).payloadLength, 1u);
  EXPECT_EQ(header(1, 1048576).kind, MessageKind::VideoFrame);
  EXPECT_EQ(header(1, 1048576).payloadLength, 1048576u);
  EXPECT_EQ(header(1, 1048577).kind, MessageKind::TextMessage);
  EXPECT_EQ(header(1, 1048577).payloadLength, 1u);

  EXPECT_EQ(header(1, -5).kind, MessageKind::VideoFrame);
  EXPECT_EQ(header(1, -5).payloadLength, 5u);
  EXPECT_EQ(header(1, -(0x100000 + 20)).kind, MessageKind::TextMessage);
  EXPECT_EQ(header(1, -(0x100000 + 20)).payloadLength, 20u);

  // A text of exactly 0x100000 * 2 bytes announces an empty text.
  EXPECT_EQ(header(1, 0x200000).kind, MessageKind::TextMessage);
  EXPECT_EQ(header(1, 0x200000).payloadLength, 0u);
  EXPECT_EQ(header(1, INT32_MAX).kind, MessageKind::TextMessage);
  EXPECT_EQ(header(1, INT32_MAX).payloadLength, 0xFFFFFu);
  EXPECT_EQ(header(1, -INT32_MAX).payloadLength, 0xFFFFFu);
  EXPECT_EQ(header(1, INT32_MIN).kind, MessageKind::Broken);
}

TEST(Header, TimeStampBytes) {
  // The example of a 57-byte text stamped 2007-03-15 12:00:00.
  const uint8_t bytes[] = {0x00, 0x00, 0x00, 0x00, 0x90, 0x1e, 0xe3, 0x40, 0x39, 0x00, 0x10, 0x00};
  const MessageHeader parsed = parseHeader(bytes);
  EXPECT_EQ(parsed.timestamp, 39156.5);
  EXPECT_EQ(parsed.kind, MessageKind::TextMessage);
  EXPECT_EQ(parsed.payloadLength, 57u);
  EXPECT_EQ(messageHeader(39156.5, 0x100039),
            std::string(reinterpret_cast<const char*>(bytes), 12));
  EXPECT_TRUE(std::isnan(header(NAN, 0).timestamp));
}

TEST(Info, PermissionCodes) {
  const auto granted = info("INFO\r\nLobby\r\nHQ Recorder\r\n1 trailing text");
  ASSERT_TRUE(granted);
  EXPECT_EQ(field(granted->cameraName), std::string(15, ' ') + "Lobby");
  EXPECT_EQ(field(granted->serverTitle), std::string(9, ' ') + "HQ Recorder");
  EXPECT_EQ(granted->permission, '1');
  EXPECT_TRUE(permitsPtz('1'));
  EXPECT_TRUE(grantsViewing('1'));

  const auto viewOnly = info("INFO\r\nA\r\nB\r\n0");
  ASSERT_TRUE(viewOnly);
  EXPECT_EQ(viewOnly->permission, '0');
  EXPECT_FALSE(permitsPtz('0'));
  EXPECT_TRUE(grantsViewing('0'));
  for (char refused : {'2', '3'}) {
    EXPECT_FALSE(grantsViewing(refused));
    EXPECT_FALSE(permitsPtz(refused));
  }
  EXPECT_TRUE(grantsViewing('x'));
}

TEST(Info, NamesAreRightAlignedOrCut) {
  const auto parsed = info("INFO\r\nABCDEFGHIJKLMNOPQRSTUVWXY\r\nabc\r\n1");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(field(parsed->cameraName), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(field(parsed->serverTitle), std::string(17, ' ') + "abc");
  EXPECT_EQ(parsed->cameraName[20], '\0');
  const auto empty = info("INFO\r\n\r\n\r\n1");
  ASSERT_TRUE(empty);
  EXPECT_EQ(field(empty->cameraName), std::string(20, ' '));
}

TEST(Info, FoundAnywhereAndBoundedByLength) {
  const auto prefixed = info("junk before INFO\r\nCam\r\nSrv\r\n1");
  ASSERT_TRUE(prefixed);
  EXPECT_EQ(field(prefixed->cameraName), std::string(17, ' ') + "Cam");

  EXPECT_FALSE(info("no marker\r\nCam\r\nSrv\r\n1"));
  EXPECT_FALSE(info("INFO\r\nCam without ends"));
  EXPECT_FALSE(info("INFO\r\nCam\r\nSrv without end"));
  EXPECT_FALSE(info("INFO\r\nCam\r\nSrv\r\n"));  // no permission byte
  EXPECT_FALSE(info("INF"));
  EXPECT_FALSE(info("INFO"));
  EXPECT_FALSE(parseInfo(nullptr, 0));

  // A text cut short: the bytes beyond the length are never looked at.
  const std::string full = "INFO\r\nCam\r\nSrv\r\n1";
  for (size_t cut = 0; cut < full.size(); ++cut) {
    std::string heap(full.substr(0, cut));
    heap.shrink_to_fit();
    EXPECT_FALSE(info(heap)) << cut;
  }
}

TEST(PortReply, SecondNumberIsTheStreamPort) {
  EXPECT_EQ(parsePortReply("80 18084"), 18084);
  EXPECT_EQ(parsePortReply("  8080\r\n18090\r\n"), 18090);
  EXPECT_EQ(parsePortReply("+80 +18084"), 18084);
  EXPECT_FALSE(parsePortReply("18084"));
  EXPECT_FALSE(parsePortReply(""));
  EXPECT_FALSE(parsePortReply("80 x18084"));
  EXPECT_FALSE(parsePortReply("<html>404</html>"));
  EXPECT_FALSE(parsePortReply("80 0"));
  EXPECT_FALSE(parsePortReply("80 -18084"));
  EXPECT_FALSE(parsePortReply("80 65536"));
  EXPECT_FALSE(parsePortReply("80 99999999999999999999"));
  EXPECT_EQ(parsePortReply("80 65535"), 65535);
}

TEST(WireText, Conversion) {
  EXPECT_EQ(toWireText(u"admin"), "admin");
  EXPECT_EQ(toWireText(std::u16string(50, u'x')), std::string(39, 'x'));
  EXPECT_EQ(toWireText(u"caf\u00e9\u4e2d"), "caf\xe9?");
  EXPECT_EQ(toWireText(std::u16string(u"ab\0cd", 5)), "ab");
}

TEST(WireText, HostSplit) {
  EXPECT_EQ(splitHostText(u"192.168.0.9").name, "192.168.0.9");
  EXPECT_FALSE(splitHostText(u"192.168.0.9").httpPort);
  const HostSpec withPort = splitHostText(u"recorder.local:8080");
  EXPECT_EQ(withPort.name, "recorder.local");
  EXPECT_EQ(withPort.httpPort, 8080);
  EXPECT_FALSE(splitHostText(u"host:").httpPort);
  EXPECT_FALSE(splitHostText(u"host:abc").httpPort);
  EXPECT_FALSE(splitHostText(u"host:0").httpPort);
  EXPECT_FALSE(splitHostText(u"host:70000").httpPort);
  EXPECT_EQ(splitHostText(u"host:81:82").httpPort, 81);
  // A long name keeps its port; a name beyond ASCII goes to the resolver
  // as UTF-8.
  const std::u16string longName(36, u'h');
  EXPECT_EQ(splitHostText(longName + u":8080").httpPort, 8080);
  EXPECT_EQ(splitHostText(u"kamera-b\u00fcro:81").name, "kamera-b\xc3\xbcro");
}

TEST(ServerSide, HeaderRoundTrip) {
  // The example from the wire description: 57 bytes of text at 2007-03-15 12:00.
  const auto bytes = formatHeader(39156.5, textLengthCode(57));
  const uint8_t expected[12] = {0, 0, 0, 0, 0x90, 0x1e, 0xe3, 0x40, 0x39, 0x00, 0x10, 0x00};
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected));
  for (const int32_t code : {0, 1, 158977, -5, int32_t{0x100000}, textLengthCode(0xFFFFF),
                             std::numeric_limits<int32_t>::min()}) {
    const auto raw = formatHeader(-1.25, code);
    const MessageHeader parsed = parseHeader(raw.data());
    EXPECT_EQ(parsed.lengthCode, code);
    EXPECT_EQ(parsed.timestamp, -1.25);
  }
  EXPECT_EQ(parseHeader(formatHeader(0, textLengthCode(20)).data()).payloadLength, 20u);
}

TEST(ServerSide, InfoTextRoundTrip) {
  const std::string text = formatInfoText("Gate", "Depot", '1');
  EXPECT_EQ(text, "INFO\r\nGate\r\nDepot\r\n1\r\n");
  const auto parsed = info(text);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(field(parsed->cameraName), std::string(16, ' ') + "Gate");
  EXPECT_EQ(field(parsed->serverTitle), std::string(15, ' ') + "Depot");
  EXPECT_EQ(parsed->permission, '1');
}

TEST(ServerSide, EveryClientCommandParsesBack) {
  using Kind = ClientCommand::Kind;
  for (int channel = 1; channel <= 16; ++channel) {
    const auto strip = [](std::string line) { return line.substr(0, line.size() - 2); };
    const ClientCommand connect = parseCommand(strip(formatConnect(channel)));
    EXPECT_EQ(connect.kind, Kind::Connect);
    EXPECT_EQ(connect.channel, channel);
    const ClientCommand login = parseCommand(strip(formatLogin(channel, "guest", "mirel")));
    EXPECT_EQ(login.kind, Kind::Login);
    EXPECT_EQ(login.channel, channel);
    EXPECT_EQ(login.account, "guest");
    EXPECT_EQ(login.password, "mirel");
    EXPECT_EQ(parseCommand(strip(formatPause(channel))).kind, Kind::Pause);
    EXPECT_EQ(parseCommand(strip(formatResume(channel))).kind, Kind::Resume);
    for (const std::string_view word : kCameraCommands) {
      const std::string both = formatCameraCommand(channel, word, "op", "pw");
      const size_t end = both.find("\r\n");
      const ClientCommand first = parseCommand(both.substr(0, end));
      EXPECT_EQ(first.kind, Kind::CameraWord);
      EXPECT_EQ(first.word, word);
      const ClientCommand second = parseCommand(both.substr(end + 2, both.size() - end - 4));
      EXPECT_EQ(second.kind, Kind::Credentials);
      EXPECT_EQ(second.channel, channel);
      EXPECT_EQ(second.account, "op");
      EXPECT_EQ(second.password, "pw");
    }
  }
  // Empty passwords survive; a password may hold blanks, an account cannot.
  EXPECT_EQ(parseCommand("001 SetPass -1 admin ").password, "");
  EXPECT_EQ(parseCommand("001 ^admin two words").password, "two words");
}

TEST(ServerSide, MalformedCommandsAreUnknown) {
  for (const char* line : {"",
                           "CONNECT",
                           "CONNECT 0 1",
                           "CONNECT 17 1",
                           "CONNECT 1 2",
                           "CONNECT 1",
                           "CONNECT x 1",
                           "CONNECT 1 1 ",
                           "1 PAUSE",
                           "01 PAUSE",
                           "0001 PAUSE",
                           "000 PAUSE",
                           "017 PAUSE",
                           "001 pause",
                           "001 PAUSE ",
                           "001 SetPass -2 guest mirel",
                           "001 SetPass -1 guest",
                           "001 SetPass 1 guest mirel",
                           "001 ^guest",
                           "001 upward",
                           "001 preset9",
                           "abc RESUME",
                           "001  up",
                           "-01 up"}) {
    EXPECT_EQ(parseCommand(line).kind, ClientCommand::Kind::Unknown) << line;
  }
}

}  // namespace
}  // namespace zenta::stream
