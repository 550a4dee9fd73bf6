// The simulator seen from outside, as a client sees it: its command line, the camera API (sections,
// authentication, the message system), refusals with their reasons, the server-push stream byte by
// byte, the event stream's command side, and /sim/fault. (The request log, snapshots and the
// identity headers are read by every end-to-end test of the module and of qrmhost.)
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <thread>

#include "CamsimProcess.h"
#include "ChildProcess.h"
#include "StreamCapture.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Lines = std::vector<std::string>;
const char* const kRead = "/control/control?read&section=jpeg&quality";
const std::string kEndOfPicture("\xFF\xD9", 2);

class Camsim : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }
  CamsimProcess::Answer authed(const std::string& target) const { return camsim_.request(target, kAdmin); }
  std::string get(const std::string& target) const { return authed(target).body; }
  StreamCapture capture(const std::string& query, std::size_t parts, std::chrono::milliseconds deadline = 10s) const {
    return captureStream(camsim_.httpPort(), "/control/faststream.jpg?" + query, parts, deadline);
  }
  Json log() const { return Json::parse(get("/api/json/status/messagesystem/eventvariables/log")); }

  CamsimProcess camsim_{{"--user", "admin", "--password", "meinsm", "--picture", "160x96"}};
};

// Our own checks only; how CLI11 treats unknown options or missing values is its business.
TEST(CamsimCommandLine, BadArgumentsExitTwoAndAStartedOneEndsCleanlyWithOpenStreams) {
  // No --port, a port too big; with a port, an unknown model, a user without a password, a bad picture size or quality.
  EXPECT_EQ(runChild({CamsimProcess::binaryPath()}, {}, 10s).exitStatus, 2);
  EXPECT_EQ(runChild({CamsimProcess::binaryPath(), "--port", "70000"}, {}, 10s).exitStatus, 2);
  for (const char* bad : {"--model=VX-NONE", "--user=admin", "--picture=wide", "--quality=101"})
    EXPECT_EQ(runChild({CamsimProcess::binaryPath(), "--port", "0", bad}, {}, 10s).exitStatus, 2) << bad;
  CamsimProcess camsim({}, true);
  EXPECT_NE(camsim.httpsPort(), 0);
  // A long-lived stream must neither block other requests nor the shutdown.
  const int stream = connectAndSend(camsim.httpPort(), getRequest("/control/faststream.jpg?stream=full&fps=5"));
  std::string first;
  const auto some = [&] { return !first.empty(); };
  EXPECT_EQ(readUntil(stream, first, some, 10s), ReadEnd::Done);
  EXPECT_EQ(camsim.get("/sim/state?section=jpeg&motionjpeg"), "motionjpeg=on\r\n");
  EXPECT_EQ(camsim.stop(), 0);
  ::close(stream);
}

TEST_F(Camsim, ReadsAndSetsSections) {
  EXPECT_EQ(get("/control/control?read&section=imagecontrol&brightness&camera&nokey"),
            "brightness=0\r\ncamera=auto\r\n");
  // An encoded '+' and a plain one both stay '+': dual-lens values are written with it.
  EXPECT_EQ(get("/control/control?set&section=imagecontrol&brightness=30%2B50&color=1+2"), "OK\r\n");
  EXPECT_EQ(get("/control/control?read&section=imagecontrol&color&brightness"), "color=1+2\r\nbrightness=30+50\r\n");
  EXPECT_EQ(authed("/control/control?set&section=newsection&a=1").status, 200);
  EXPECT_EQ(get("/control/control?read&section=newsection"), "a=1\r\n");
  EXPECT_EQ(authed("/control/control?read&section=event_msg").status, 200) << "an empty section is there";
  EXPECT_EQ(get("/admin/audio?setMicro=1"), "OK\r\n");
}

// What a request cannot name, misses credentials for or has too much of is refused with its status
// (and the reason where one is given); nothing refused changes the simulator.
TEST_F(Camsim, RefusalsHaveTheirStatusAndReason) {
  const std::string big = "X-Big: " + std::string(20000, 'a') + "\r\n" + kAdmin;
  const struct {
    const char* target;
    int status;
    const char* part;    // in the head or the body
    std::string header;  // the credentials, or what else goes with the request
  } cases[] = {
      {"/control/control?read&section=imagecontrol", 401, "WWW-Authenticate: Basic realm=\"Vantrel\"", ""},
      {"/control/control?read&section=jpeg", 401, "", "Authorization: Basic YWRtaW46d3Jvbmc=\r\n"},  // admin:wrong
      {"/sim/state?section=jpeg&quality", 200, "quality=80\r\n", ""},  // control paths stay open
      {"/sim/state?section=jpeg", 431, "", big},
      {"/sim/fault?explode=1", 400, "explode", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const CamsimProcess::Answer answer = camsim_.request(c.target, c.header);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_NE((answer.head + answer.body).find(c.part), std::string::npos) << answer.head << answer.body;
  }
  const auto refused = [&](int status, const std::string& header, std::initializer_list<const char*> targets) {
    for (const char* target : targets) EXPECT_EQ(camsim_.request(target, header).status, status) << target;
  };
  refused(404, kAdmin,
          {"/control/control?read&section=nosuchsection", "/api/json/unknown", "/nothing/here",
           "/control/rcontrol?action=sigout&name=OFF", "/control/rcontrol?action=message&name=x"});
  refused(400, kAdmin,
          {"/control/control?read", "/control/control?set&brightness=1", "/admin/audio?setMicro=7",
           "/control/faststream.jpg?stream=other"});
  refused(404, "", {"/sim/nothing", "/sim/trigger?event=nothing"});
  // A bad board, input or state; a fault without action, with a bad status, two actions, a /sim
  // path, running=1 (for stream actions only) on an answer.
  refused(400, "",
          {"/sim/io?board=NONE&input=0&state=1", "/sim/io?board=ZL232&input=2&state=1",
           "/sim/io?board=ZL232&input=0&state=2", "/sim/fault?path=/control", "/sim/fault?status=abc",
           "/sim/fault?status=500&empty=1", "/sim/fault?path=/sim&status=500", "/sim/fault?close=1&running=1"});
  EXPECT_EQ(get(kRead), "quality=80\r\n");
  EXPECT_EQ(camsim_.get("/sim/profiles"), R"({"event_profiles":{},"message_profiles":[],"action_groups":{}})");
}

// The message system: profiles kept as state, the I/O boards' inputs, outputs and boxes in the same
// stores, a triggered event profile changing its message's time in the event-variable log, and a
// camera reset.
TEST_F(Camsim, MessageSystemStateAndATriggeredProfileSendingItsGroupsMessage) {
  get("/control/control?set&section=event_sig&sig=A_SI0:_profilename=A_SI0:sig_sens=si:si_pin=mo,29:so_pin=mo,7");
  get("/control/control?set&section=event_sig&sig=A_SO0:_profilename=A_SO0:sig_sens=so:si_pin=mo,29:so_pin=mo,7");
  get("/admin/control?set&section=signaloutprofiles&profile=ON:_profilename=ON:so_pin=mo,7:so_state=toggle_on");
  EXPECT_EQ(get("/admin/control?read&section=signaloutprofiles&profile"),
            "profile=ON:_profilename=ON:so_pin=mo,7:so_state=toggle_on\r\n");
  EXPECT_EQ(get("/control/rcontrol?action=sigout&name=ON"), "OK\r\n");
  const auto state = Json::parse(camsim_.get("/sim/io?board=ZL232&input=0&state=1"));
  EXPECT_EQ(state["boards"]["ZL232"], Json::parse(R"({"inputs":[true,false],"outputs":[true,false]})"));
  EXPECT_EQ(get("/api/json/config/ZL_232_IO_Box"), "{}") << "VX-S10 has no RS-232 box";

  get("/control/control?set&section=event_ima&ima=md1:_profilename=Hall:ima_dead=0:ima_sens=vm:vm_list=");
  get("/admin/control?set&section=msgsysprofiles&profile=md1:_profilename=md1:message=md1:range=local");
  get("/control/control?set&section=actions&ah2_name=md1&ah2_events=IMA,md1"
      "&ah2_subactions=0000:action=MS,md1:timeout=0");
  EXPECT_EQ(get("/control/control?read&section=event_ima&ima"),
            "ima=md1:_profilename=Hall:ima_dead=0:ima_sens=vm:vm_list=\r\n");
  EXPECT_EQ(get("/admin/control?read&section=msgsysprofiles&profile"),
            "profile=md1:_profilename=md1:message=md1:range=local\r\n");
  EXPECT_EQ(get("/control/control?read&section=actions&ah1_name&ah2_name"), "ah1_name=\r\nah2_name=md1\r\n");
  EXPECT_EQ(log(), Json::array());

  ASSERT_EQ(camsim_.get("/sim/trigger?event=md1"), "OK\r\n");
  ASSERT_EQ(camsim_.get("/sim/trigger?event=md1"), "OK\r\n");
  const auto records = log();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["path"], "messages.local.md1");
  EXPECT_EQ(records[0]["type"], "changed");
  EXPECT_GT(std::stoll(records[0]["tv_sec"].get<std::string>()), 1700000000) << "two sends, two times";

  get("/control/control?section=event_ima&set_profile=ima:md1&ima_sens=as");
  get("/control/control?section=actions&delete_profile=ah2_subactions:0000");
  const auto all = Json::parse(camsim_.get("/sim/profiles"));
  EXPECT_EQ(all["event_profiles"]["event_ima"][0], "md1:_profilename=Hall:ima_dead=0:ima_sens=as:vm_list=");
  EXPECT_FALSE(all["action_groups"]["ah2"].contains("subactions"));

  camsim_.get("/sim/reset-profiles");
  EXPECT_EQ(camsim_.get("/sim/profiles"), R"({"event_profiles":{},"message_profiles":[],"action_groups":{}})");
  EXPECT_EQ(log(), Json::array());
}

// A multipart answer without length or chunking. Key pictures carry their tables and decode alone;
// deltas decode only behind the tables of the key picture before them. Full pictures are all keys.
TEST_F(Camsim, KeyPicturesAtTheAskedDistanceAndDeltasBetween) {
  const struct {
    const char* query;
    std::size_t keyEvery, parts;
  } cases[] = {{"stream=Zelta", 10, 12}, {"stream=Zelta&iframerefresh=3", 3, 7}, {"stream=full", 1, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    const StreamCapture stream = capture(std::string(c.query) + "&fps=0", c.parts);
    ASSERT_EQ(stream.error, "");
    ASSERT_EQ(stream.pictures.size(), c.parts);
    for (std::size_t i = 0; i < stream.pictures.size(); ++i) {
      const std::string& picture = stream.pictures[i];
      const bool key = i % c.keyEvery == 0;
      EXPECT_EQ(picture.substr(0, 4), std::string("\xFF\xD8\xFF\xE0", 4)) << i;
      EXPECT_EQ(picture.substr(picture.size() - 2), kEndOfPicture) << i;
      const std::string& lastKey = stream.pictures[i - i % c.keyEvery];
      EXPECT_EQ(decodedSize(key ? picture : withTablesOf(lastKey, picture)), "160x96") << i;
      EXPECT_TRUE(key || decodedSize(picture).empty()) << i;
    }
    EXPECT_NE(stream.pictures[0], stream.pictures[1]) << "the pattern moves";
    EXPECT_EQ(stream.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << stream.head;
    EXPECT_NE(stream.head.find("Content-Type: multipart/x-mixed-replace;boundary=VANTREL_Fast_Serverpush\r\n"),
              std::string::npos);
    EXPECT_EQ(stream.head.find("Content-Length"), std::string::npos);
    EXPECT_EQ(stream.head.find("chunked"), std::string::npos);
  }
}

// The microphone adds a tone block after every picture, the event section follows APP0; both
// only while enabled.
TEST_F(Camsim, ToneBlockAndEventSectionWhenEnabled) {
  EXPECT_EQ(get("/admin/audio?setMicro=1"), "OK\r\n");
  EXPECT_EQ(get("/sim/events?enable=1&est=3,7"), "OK\r\n");
  const StreamCapture stream = capture("stream=Zelta&fps=25", 3);
  ASSERT_EQ(stream.pictures.size(), 3u);
  constexpr std::size_t kPayload = 8000 / 25;
  for (const std::string& part : stream.pictures) {
    const auto audioAt = part.rfind(std::string("\xFF\xD9\xFF\xED", 4));
    ASSERT_NE(audioAt, std::string::npos);
    const std::size_t block = audioAt + 2;
    EXPECT_EQ(bigEndian16(part, block + 2), 14 + kPayload);
    EXPECT_EQ(part.size() - block, 16 + kPayload) << "the block ends the part";
    EXPECT_EQ(part.substr(block + 4, 4), "ULAW");
    // One period of a 1 kHz tone at 8000 samples/s is 8 samples: the payload repeats.
    const std::string payload = part.substr(block + 16);
    EXPECT_EQ(payload.substr(0, 8), payload.substr(8, 8));
    EXPECT_NE(payload.substr(0, 4), payload.substr(4, 4));

    const std::size_t comAt = 4 + bigEndian16(part, 4);
    ASSERT_EQ(part.substr(comAt, 2), std::string("\xFF\xFE", 2));
    const std::string text = part.substr(comAt + 4, bigEndian16(part, comAt + 2) - 2);
    EXPECT_EQ(text.compare(0, 24, "#:R9IMG\r\nSECTION EVENT\r\n"), 0) << text;
    EXPECT_NE(text.find("\r\nTIT="), std::string::npos);
    EXPECT_NE(text.find("\r\nEST=3,7\r\nENDSECTION EVENT\r\n"), std::string::npos) << text;
  }
  EXPECT_EQ(get("/admin/audio?setMicro=0"), "OK\r\n");
  EXPECT_EQ(get("/sim/events?enable=0"), "OK\r\n");
  const StreamCapture plain = capture("stream=Zelta&fps=25", 1);
  ASSERT_EQ(plain.pictures.size(), 1u);
  EXPECT_EQ(plain.pictures[0].substr(plain.pictures[0].size() - 2), kEndOfPicture);
  EXPECT_EQ(plain.pictures[0].find("ENDSECTION EVENT"), std::string::npos);
}

// The event stream's command side over a raw socket: commands cut anywhere, loudspeaker audio
// between them, and bad ones, each answered in order with its id.
TEST_F(Camsim, EventStreamCommandsAreAnsweredInOrderWhateverTheirCuts) {
  const std::string z(1, '\0');
  // Loudspeaker audio: an APP11 segment of 126 bytes.
  const std::string audio = std::string("\xFF\xEB\x00\x7EZLA\0", 8) + std::string(120, '\x11');
  const std::string body = std::string("{\"method\":\"video_enable\",\"id\":2,\"params\":[false]}") + z + audio +
                           "{\"method\":\"bogus\",\"id\":3,\"params\":[]}" + z + "not json" + z +
                           "{\"method\":\"setThermalRaw\",\"id\":4,\"params\":[true]}" + z +
                           "{\"method\":\"live\",\"id\":5,\"params\":[]}" + z;
  // The head with the first command (pictures are off before the first one is due), then the
  // rest a few bytes at a time.
  camsim_.clearRequests();
  const int fd = connectAndSend(camsim_.httpPort(), std::string("POST /control/eventstream.jpg HTTP/1.0\r\n") + kAdmin +
                                                        "Connection: close\r\n\r\n" + body.substr(0, 52));
  ASSERT_GE(fd, 0);
  for (std::size_t at = 52; at < body.size(); at += 7) {
    const std::string piece = body.substr(at, 7);
    ASSERT_EQ(::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL), static_cast<ssize_t>(piece.size()));
  }
  // The APP12 messages at the start of the answer's body (whole ones only).
  std::string answer;
  std::vector<std::string> controls;
  readUntil(
      fd, answer,
      [&] {
        controls.clear();
        const auto headEnd = answer.find("\r\n\r\n");
        for (std::size_t at = headEnd + 4;
             headEnd != std::string::npos && at + 4 <= answer.size() && answer.compare(at, 2, "\xFF\xEC") == 0;) {
          const std::size_t length = bigEndian16(answer, at + 2);
          if (at + 2 + length > answer.size()) break;
          controls.push_back(Json::parse(answer.substr(at + 4, length - 2)).dump());
          at += 2 + length;
        }
        return controls.size() >= 6;
      },
      10s);
  ::close(fd);
  EXPECT_EQ(controls,
            (Lines{R"({"id":0,"type":"eventstream","version":"1.0"})", R"({"id":2,"result":"ok"})",
                   R"({"error":{"code":-32601,"message":"unknown method bogus"},"id":3})",
                   R"({"error":{"code":-32700,"message":"parse error"}})",
                   R"({"error":{"code":-32000,"message":"no thermal sensor"},"id":4})", R"({"id":5,"result":"ok"})"}));
  EXPECT_EQ(camsim_.requestTargets(), std::vector<std::string>{"/control/eventstream.jpg"});
}

// Each one-shot fault on a plain answer, and the normal answer right after it; a fault's path is
// a prefix no other path is touched by.
TEST_F(Camsim, OneShotAnswerFaultsThenNormalAnswers) {
  const struct {
    const char* fault;
    int status;            // 0: no status line
    const char* headPart;  // in the head, or "" for any
    const char* body;      // exact, or null for any
  } cases[] = {
      {"path=/control/control&status=500", 500, "", "Error\r\n"},
      {"status=302", 302, "Location: /", nullptr},
      {"status=304", 304, "", ""},
      {"empty=1", 200, "", ""},
      {"close=1", 0, "", ""},
      {"garbage=1", 0, "GARBAGE", ""},
      {"delay_ms=50", 200, "", "quality=80\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    camsim_.fault(std::string(c.fault) + "&count=1");
    const CamsimProcess::Answer faulty = authed(kRead);
    EXPECT_EQ(faulty.status, c.status);
    EXPECT_NE(faulty.head.find(c.headPart), std::string::npos) << faulty.head;
    EXPECT_TRUE(!c.body || faulty.body == c.body) << faulty.body;
    EXPECT_EQ(get(kRead), "quality=80\r\n");
  }
  EXPECT_NE(camsim_.get("/sim/requests").find("\"status\":0"), std::string::npos) << "closed answers log 0";

  camsim_.fault("path=/admin&status=503");
  EXPECT_EQ(authed(kRead).status, 200);
  EXPECT_EQ(authed("/admin/rcontrol").status, 503);
  camsim_.fault("clear=1");
  EXPECT_EQ(authed("/admin/rcontrol").status, 200);

  camsim_.fault("path=/control/control&delay_ms=600000&count=1");
  EXPECT_THROW(camsim_.request(kRead, kAdmin, std::chrono::seconds(1)), std::runtime_error) << "held past the deadline";
  camsim_.fault("stall_after_head=1&count=1");
  const int stalled = connectAndSend(camsim_.httpPort(), getRequest(kRead));
  std::string head;
  const auto whole = [&] { return head.find("\r\n\r\n") != std::string::npos; };
  readUntil(stalled, head, whole, 10s);
  EXPECT_NE(head.find("Content-Length: 1000\r\n"), std::string::npos) << head;
  EXPECT_EQ(get(kRead), "quality=80\r\n");
  ::close(stalled);
}

// Each one-shot stream fault, then a normal stream. The shape tells the parts that came: '+' a
// picture from FF D8 to FF D9, '-' anything else.
TEST_F(Camsim, StreamFaultsShapeThePartsThatCome) {
  const struct {
    const char* fault;
    std::size_t asked;
    const char* shape;
    bool closed;  // by the simulator
    bool stalls;  // the stream goes silent: read with a short deadline
  } cases[] = {
      {"drop_after_parts=3&count=1", 10, "+++", true, false},
      {"stall_after_parts=1&count=1", 2, "+", false, true},
      {"path=/control/faststream.jpg&garbage_part=2&count=1", 3, "+-+", false, false},
      {"no_eoi=1&count=1", 2, "-+", false, false},
      {"clear=1", 4, "++++", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    camsim_.fault(c.fault);
    const StreamCapture stream = capture("stream=full&fps=0", c.asked, c.stalls ? 800ms : 10000ms);
    EXPECT_EQ(stream.error.empty(), !c.stalls) << stream.error;
    std::string shape;
    for (const std::string& picture : stream.pictures)
      shape += picture.rfind("\xFF\xD8", 0) == 0 && picture.substr(picture.size() - 2) == kEndOfPicture ? '+' : '-';
    EXPECT_EQ(shape, c.shape);
    EXPECT_EQ(stream.closedByServer, c.closed);
  }
}

// running=1: the fault reaches the stream that runs when it is installed (without it, the
// stream's next reconnect would meet it); the request log counts the pictures each stream sent.
TEST_F(Camsim, ARunningFaultReachesTheStreamThatRunsAlready) {
  StreamCapture running;
  std::thread reader([&] { running = capture("stream=full&fps=0", 1000, 30s); });
  const auto picturesSent = [&] {
    for (const auto& line : splitLines(camsim_.get("/sim/requests"))) {
      const auto entry = Json::parse(line);
      if (entry["target"].get<std::string>().rfind("/control/faststream.jpg", 0) == 0)
        return entry.value("pictures", size_t{0});
    }
    return size_t{0};
  };
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (picturesSent() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the log, not synchronising
  const size_t before = picturesSent();
  camsim_.fault("path=/control/faststream.jpg&running=1&count=1&drop_after_parts=2");
  reader.join();
  EXPECT_EQ(running.error, "");
  EXPECT_TRUE(running.closedByServer) << "the fault installed while the stream ran ended it";
  EXPECT_GE(before, 3u);
  EXPECT_LE(running.pictures.size(), before + 3);
  EXPECT_EQ(picturesSent(), running.pictures.size());
}

}  // namespace
