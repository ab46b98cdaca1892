// zenta-cli against the simulator: saved hosts shared with the viewer, the
// probe's table, snapshots and recordings, and its exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

#include "hosts/host_store.h"
#include "platform/registry/registry.h"
#include "tests/sim/wire_client.h"
#include "tests/support/jpeg_file.h"
#include "tests/support/loopback.h"
#include "tests/support/report_schema.h"
#include "tests/support/test_folder.h"

namespace zenta::testing {
namespace {

namespace fs = std::filesystem;

class ZentaCli : public ::testing::Test {
 protected:
  void SetUp() override { platform::setRegistryFile(dir + "/registry"); }

  // Runs the client; its exit code, and what it printed in `out`.
  int run(const std::string& arguments, const std::string& input = "< /dev/null") {
    const std::string line = std::string(ZENTA_CLI) + " --registry=" + dir + "/registry " +
                             arguments + " " + input + " 2>&1";
    std::FILE* pipe = ::popen(line.c_str(), "r");
    out.clear();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // `record` without --seconds, in a process of its own, until signalled.
  pid_t recordUntilStopped(const SimProcess& sim, const char* channel, const std::string& file) {
    const std::string registry = "--registry=" + dir + "/registry", target = host(sim);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(ZENTA_CLI, ZENTA_CLI, registry.c_str(), "record", target.c_str(), channel,
              file.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
  static std::string host(const SimProcess& sim) {
    return "127.0.0.1:" + std::to_string(sim.httpPort());
  }

  TestFolder folder{"zenta-cli"};
  const std::string& dir = folder.path();
  std::string out;
};

TEST_F(ZentaCli, HostsAreTheViewersSavedHosts) {
  EXPECT_EQ(run("hosts add dvr:8080 --account admin --password pw"), 0);
  EXPECT_EQ(run("hosts add yard --guest"), 0);
  EXPECT_EQ(run("hosts list"), 0);
  EXPECT_EQ(out, "  dvr:8080\tadmin\n* yard\t(guest)\n");
  EXPECT_EQ(run("hosts remember dvr:8080"), 0);
  stream::Login state;
  hosts::HostStore(state).loadRemembered();
  EXPECT_EQ(state.host, u"dvr:8080");
  EXPECT_EQ(state.account, u"admin");
  EXPECT_EQ(state.password, u"pw");
  // Removing the remembered host forgets it, as the dialog's Delete does.
  EXPECT_EQ(run("hosts remove dvr:8080"), 0);
  EXPECT_EQ(hosts::HostStore(state).rememberedHost(), u"");
  EXPECT_EQ(run("hosts remove nothere"), 1);
  EXPECT_EQ(run("hosts add a\\\\b"), 2);
  EXPECT_EQ(run("hosts add x --account a"), 2);
  EXPECT_EQ(run("hosts"), 2);
  EXPECT_EQ(run("--help"), 0);
  EXPECT_NE(out.find("snapshot HOST CHANNEL FILE.jpg"), std::string::npos);
}

TEST_F(ZentaCli, ProbeListsEveryChannel) {
  SimProcess sim({"--channels", "12", "--size", "2=176x144", "--guest-permissions",
                  "1111002000000000", "--title", "Yard DVR", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  ASSERT_EQ(run("probe " + host(sim)), 0) << out;
  EXPECT_NE(
      out.find("reachable: " + host(sim) + ", stream port " + std::to_string(sim.streamPort())),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("\n1       Camera 1              1     320x240\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n2       Camera 2              1     176x144\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n7       Camera 7              2     -\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n13      -                     -     -\n"), std::string::npos) << out;
  EXPECT_NE(out.find("title: Yard DVR"), std::string::npos) << out;
  // Every channel was resumed before it was closed.
  EXPECT_TRUE(sim.waitForEvent("resume"));
  EXPECT_EQ(run("probe 127.0.0.1:1"), 1);
}

// The size of a JPEG file, 0 x 0 when it cannot be read.
std::pair<int, int> jpegSize(const std::string& path) {
  const auto image = readJpegFile(path);
  return image ? std::pair(image->width, image->height) : std::pair(0, 0);
}

TEST_F(ZentaCli, SnapshotSavesOneWholePictureOrNothing) {
  SimProcess sim({"--account", "op:secret:1101", "--size", "3=368x288", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  ASSERT_EQ(run("snapshot " + host(sim) + " 1 " + dir + "/one.jpg --account op --password secret"),
            0)
      << out;
  EXPECT_EQ(jpegSize(dir + "/one.jpg"), std::pair(320, 240));
  ASSERT_EQ(run("snapshot " + host(sim) + " 3 " + dir + "/wide.jpg --account op --password secret"),
            0)
      << out;
  EXPECT_EQ(jpegSize(dir + "/wide.jpg"), std::pair(360, 288));  // the shown area
  EXPECT_TRUE(sim.waitForEvent("resume"));  // the channel was resumed before it closed
  // A wrong password is refused.
  EXPECT_EQ(run("snapshot " + host(sim) + " 1 " + dir + "/no.jpg --account op --password wrong"),
            3);
  EXPECT_FALSE(fs::exists(dir + "/no.jpg"));
  // A folder that cannot be written: no file and code 5.
  EXPECT_EQ(run("snapshot " + host(sim) + " 1 " + dir + "/missing/x.jpg --guest"), 5);
  EXPECT_FALSE(fs::exists(dir + "/missing"));
  EXPECT_EQ(run("snapshot " + host(sim) + " 17 " + dir + "/x.jpg"), 2);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
}

TEST_F(ZentaCli, RecordWritesAnElementaryStreamThatStartsWithAnIntraPicture) {
  SimProcess sim({"--rate", "10", "--size", "176x144", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  ASSERT_EQ(run("record " + host(sim) + " 2 " + dir + "/two.263 --seconds 2"), 0) << out;
  std::ifstream in(dir + "/two.263", std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2] & 0xFC, 0x80);
  int pictures = 0;
  for (size_t i = 0; i + 2 < bytes.size(); ++i)
    pictures += bytes[i] == 0 && bytes[i + 1] == 0 && (bytes[i + 2] & 0xFC) == 0x80;
  EXPECT_GE(pictures, 10);
  EXPECT_LE(pictures, 30);
  EXPECT_EQ(run("record " + host(sim) + " 2 " + dir + "/x.263 --seconds 0"), 2);
  EXPECT_EQ(run("record 127.0.0.1:1 2 " + dir + "/x.263 --seconds 1"), 1);
  EXPECT_FALSE(fs::exists(dir + "/x.263"));
}

// What ffprobe says of a file's container: its duration and picture count.
std::pair<double, int> probeFile(const std::string& path) {
  const std::string line =
      "ffprobe -v error -count_packets -select_streams v:0 -show_entries "
      "format=duration:stream=nb_read_packets -of csv=p=0 '" +
      path + "' 2>/dev/null";
  std::FILE* pipe = ::popen(line.c_str(), "r");
  char text[256] = {};
  std::string all;
  while (std::fgets(text, sizeof text, pipe) != nullptr)
    all += text;
  ::pclose(pipe);
  // Two lines: the stream's packets, then the format's duration.
  int packets = 0;
  double duration = 0;
  std::sscanf(all.c_str(), "%d %lf", &packets, &duration);
  return {duration, packets};
}

TEST_F(ZentaCli, ARecordingKeepsItsLengthThroughClockJumpsAndFloods) {
  // Channel 2's clock jumps 31 years ahead after 30 pictures; channel 3
  // floods pictures as fast as they are taken.
  SimProcess sim({"--rate", "15", "--size", "176x144", "--no-picture-log", "--fault",
                  "2:clock-step=1000000000", "--fault", "3:flood"});
  ASSERT_TRUE(sim.ok());
  ASSERT_EQ(run("record " + host(sim) + " 2 " + dir + "/jump.mkv --seconds 4"), 0) << out;
  auto [duration, pictures] = probeFile(dir + "/jump.mkv");
  EXPECT_NEAR(duration, 4.0, 0.8);
  EXPECT_NEAR(pictures, 60, 12);
  ASSERT_EQ(run("record " + host(sim) + " 3 " + dir + "/flood.mkv --seconds 3"), 0) << out;
  std::tie(duration, pictures) = probeFile(dir + "/flood.mkv");
  EXPECT_LT(duration, 4.5);
  EXPECT_LE(pictures, 450);
}

TEST_F(ZentaCli, RecordingsPlayAtTheServersPaceAndEndCleanlyOnCtrlC) {
  SimProcess sim({"--rate", "15", "--size", "176x144", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run("record " + host(sim) + " 2 " + dir + "/two.3gp --seconds 5"), 0) << out;
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto [duration, pictures] = probeFile(dir + "/two.3gp");
  // Played at 15 pictures a second, not at a player's default rate.
  EXPECT_NEAR(duration, 5.0, 0.5) << took;
  EXPECT_NEAR(pictures, 75, 10);
  // Without --seconds until Ctrl-C, then finished and playable.
  const pid_t pid = recordUntilStopped(sim, "3", dir + "/three.mkv");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::tie(duration, pictures) = probeFile(dir + "/three.mkv");
  EXPECT_GT(duration, 1.5);
  EXPECT_LT(duration, 3.5);
  EXPECT_GT(pictures, 20);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
  // A name whose container cannot hold H.263: a command-line error, no file.
  EXPECT_EQ(run("record " + host(sim) + " 2 " + dir + "/x.wav --seconds 1"), 2) << out;
  EXPECT_EQ(run("record " + host(sim) + " 2 " + dir + "/x.mp4 --seconds 1"), 2) << out;
  EXPECT_FALSE(fs::exists(dir + "/x.wav"));
}

// How many pictures of a file a player decodes.
int decodedPictures(const std::string& path) {
  const std::string line =
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames -of csv=p=0 '" +
      path + "' 2>/dev/null";
  std::FILE* pipe = ::popen(line.c_str(), "r");
  int frames = 0;
  if (std::fscanf(pipe, "%d", &frames) != 1) frames = 0;
  ::pclose(pipe);
  return frames;
}

TEST_F(ZentaCli, AKilledRecordingPlaysAndTheNextOneKeepsIt) {
  SimProcess sim({"--rate", "15", "--size", "176x144", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  const pid_t pid = recordUntilStopped(sim, "2", dir + "/cut.3gp");
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  // The next recording to the name keeps what the killed one wrote, and
  // every picture of a finished file decodes, the last one too.
  ASSERT_EQ(run("record " + host(sim) + " 2 " + dir + "/cut.3gp --seconds 1"), 0) << out;
  const std::string kept = dir + "/cut-interrupted-" + std::to_string(pid) + ".3gp";
  EXPECT_NE(out.find("kept as " + kept), std::string::npos) << out;
  EXPECT_GT(decodedPictures(kept), 15);
  const int written = probeFile(dir + "/cut.3gp").second;
  EXPECT_GT(written, 5);
  EXPECT_EQ(decodedPictures(dir + "/cut.3gp"), written);
  // A name without an extension is Matroska's.
  ASSERT_EQ(run("record " + host(sim) + " 2 " + dir + "/plain --seconds 1"), 0) << out;
  EXPECT_GT(probeFile(dir + "/plain.mkv").second, 5);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
}

TEST_F(ZentaCli, EveryExitCodeMeansWhatItSays) {
  SimProcess sim(
      {"--account", "op:secret:1120", "--fault", "4:tick-then-close", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  const std::string login = " --account op --password ";
  EXPECT_EQ(run("probe " + host(sim) + login + "secret"), 0) << out;
  EXPECT_EQ(run("probe 127.0.0.1:1"), 1);
  EXPECT_EQ(run("probe"), 2);
  EXPECT_EQ(run("probe " + host(sim) + login + "wrong"), 3) << out;  // every channel refuses
  // A channel the login may not view: refused, and no file.
  EXPECT_EQ(run("snapshot " + host(sim) + " 3 " + dir + "/three.jpg" + login + "secret"), 3);
  EXPECT_FALSE(fs::exists(dir + "/three.jpg"));
  // A channel that never shows a picture: time-out, bounded as asked.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run("snapshot " + host(sim) + " 4 " + dir + "/four.jpg --timeout 2" + login + "secret"),
            4);
  // Well short of the default 10 s, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_FALSE(fs::exists(dir + "/four.jpg"));
  // The saved servers' lock held by another program: a change fails within
  // three seconds and says so, a listing goes on.
  ASSERT_EQ(run("hosts add dvr --guest"), 0);
  const int held = ::open((dir + "/registry.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto locked = std::chrono::steady_clock::now();
  EXPECT_EQ(run("hosts add yard --guest"), 5) << out;
  EXPECT_EQ(run("hosts list"), 0) << out;
  EXPECT_NE(out.find("dvr"), std::string::npos);
  // (Two starts of the client and its three seconds: well within fifteen,
  // also under a sanitizer on a loaded machine.)
  EXPECT_LT(std::chrono::steady_clock::now() - locked, std::chrono::seconds(15));
  ::close(held);
}

// A channel closed in the middle of its first picture (1) or right after
// it (2) is not reopened in a storm; one the recorder does not have (16)
// ends the client at once.
TEST_F(ZentaCli, MisbehavingAndMissingChannelsEndOrWaitWithoutAStorm) {
  SimProcess sim({"--channels", "15", "--fault", "1:cut-in=1", "--fault", "2:drop-after=1",
                  "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  run("record " + host(sim) + " 1 " + dir + "/one.263 --seconds 3");
  run("record " + host(sim) + " 2 " + dir + "/two.263 --seconds 3");
  for (const int channel : {1, 2}) {
    const auto connections =
        sim.events("channel", {"\"channel\":" + std::to_string(channel) + "}"}).size();
    EXPECT_GE(connections, 2u) << channel;
    EXPECT_LE(connections, 10u) << channel;
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run("snapshot " + host(sim) + " 16 " + dir + "/x.jpg --timeout 10"), 1) << out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(ZentaCli, ServerTextsAreEscapedArgumentsAreUtf8AndJsonIsOnOffer) {
  SimProcess sim({"--name", "1=\x1b[31mRed\x07", "--name", "2=caf\xc3\xa9", "--title", "Yard\x9b",
                  "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  ASSERT_EQ(run("probe " + host(sim)), 0) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  EXPECT_EQ(out.find('\x07'), std::string::npos);
  EXPECT_NE(out.find("\\x1b[31mRed\\x07"), std::string::npos) << out;
  EXPECT_NE(out.find("caf\xc3\xa9"), std::string::npos) << out;
  ASSERT_EQ(run("probe " + host(sim) + " --json"), 0) << out;
  EXPECT_NE(out.find("\"camera\": \"\\u001b[31mRed\\u0007\""), std::string::npos) << out;
  const auto report = nlohmann::json::parse(out, nullptr, false);
  EXPECT_EQ(reportSchemaFaults(report), "") << out;
  EXPECT_EQ(report["channels"][1]["camera"], "caf\xc3\xa9");
  EXPECT_EQ(report["channels"][0]["permission"], "ptz");
  EXPECT_EQ(report["channels"][0]["state"], "live");
  EXPECT_EQ(report["channels"][0]["width"], 320);
  // A host name in UTF-8 is stored as the viewer shows it.
  EXPECT_EQ(run("hosts add caf\xc3\xa9 --guest"), 0) << out;
  stream::Login state;
  hosts::HostStore(state).loadRemembered();
  EXPECT_EQ(state.host, u"caf\u00e9");
  ASSERT_EQ(run("hosts list --json"), 0);
  EXPECT_NE(out.find("\"host\": \"caf\xc3\xa9\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"remembered\": true"), std::string::npos) << out;
  // The same host but for case: one host, its stored spelling.
  EXPECT_EQ(run("hosts add CAF\xc3\xa9 --account a --password p"), 0);
  hosts::HostStore(state).loadRemembered();
  EXPECT_EQ(state.host, u"caf\u00e9");
  EXPECT_EQ(state.account, u"a");
}

TEST_F(ZentaCli, PasswordsStayOffTheCommandLineAndTheTimeoutBoundsTheWholeCommand) {
  std::ofstream(dir + "/password") << "s3cret\n";
  EXPECT_EQ(run("hosts add one --account a --password-stdin", "< " + dir + "/password"), 0) << out;
  EXPECT_EQ(run("hosts add two --account b", "< /dev/null"), 2);  // no password anywhere
  ::setenv("ZENTA_PASSWORD", "fromenv", 1);
  EXPECT_EQ(run("hosts add two --account b"), 0) << out;
  ::unsetenv("ZENTA_PASSWORD");
  stream::Login state;
  hosts::HostStore store(state);
  ASSERT_TRUE(store.loadHost(u"one"));
  EXPECT_EQ(state.password, u"s3cret");
  ASSERT_TRUE(store.loadHost(u"two"));
  EXPECT_EQ(state.password, u"fromenv");
  // A server whose listen queue is full after two connections: the probe
  // gets through, the channels' connections hang, and --timeout ends it.
  Listener full(1);
  TestServer ports([&](Peer& peer) {
    peer.readLine();
    peer.send("HTTP/1.0 200 OK\r\n\r\n80 " + std::to_string(full.port()));
    peer.close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run("probe 127.0.0.1:" + std::to_string(ports.port()) + " --timeout 2"), 4) << out;
  // Well short of the default 10 s, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

}  // namespace
}  // namespace zenta::testing
