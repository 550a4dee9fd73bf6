// The SDK's main object end to end over a scripted connection: the POST and the commands after the
// greeting (one per step, dropped with a lost connection), answers with their ids, pictures with
// their times and thermal data, broken pictures, audio both ways.
#include "Zelta_SDK.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <new>
#include <tuple>

#include "SdkTestDoubles.h"
#include "ScriptedConnection.h"
#include "StreamBuilder.h"
#include "Zelta_AudioReaderALaw.h"
#include "Zelta_Decoder.h"
#include "Zelta_ImageImpl_SDK.h"
#include "Zelta_SendAudio.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

// The client's three objects in one: pictures and events kept, audio bytes counted.
struct Client : Zelta_SinkVideo, Zelta_SinkAudio, Zelta_EventNotificationListener {
  int consume(std::unique_ptr<Zelta_Image> image) override {
    images.push_back(std::move(image));
    return 1;
  }
  int consume(std::shared_ptr<Zelta_Audio> audio) override {
    bytes += audio->size();
    return 1;
  }
  void notifyEvent(int32_t id, const char* text) override { events.emplace_back(id, text); }
  std::vector<std::unique_ptr<Zelta_Image>> images;
  size_t bytes = 0;
  std::vector<std::pair<int32_t, std::string>> events;
};
using Events = std::vector<std::pair<int32_t, std::string>>;

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
const std::string kGreeting = sb::control("{\"type\":\"eventstream\",\"id\":0}");

struct SdkMainTest : testing::Test {
  std::unique_ptr<Zelta_SDK> create() {
    return Zelta_SDK::create(client, client, 0, std::make_shared<FakeAuthorization>("admin", "pw", true), client,
                             connection);
  }
  // Sets the stream up over the scripted connection and steps until its bytes are used up.
  void run(const std::string& stream, std::vector<size_t> receiveSizes = {}) {
    sdk = create();
    connection->feed(kHead + stream, std::move(receiveSizes));
    ASSERT_EQ(sdk->stream_setup("http://127.0.0.1:8080/control/eventstream.jpg"), 1);
    for (int step = 0; step < 10000 && !connection->drained(); ++step) sdk->stepLoop();
    for (int step = 0; step < 4; ++step) sdk->stepLoop();
  }

  PrintCapture capture;
  std::shared_ptr<Client> client = std::make_shared<Client>();
  std::shared_ptr<ScriptedConnection> connection = std::make_shared<ScriptedConnection>();
  std::unique_ptr<Zelta_SDK> sdk;
};

// The POST head, then every command's wire text with its zero byte, in order and one per step, once
// the camera greeted (an answer is no greeting); the camera's texts reach the listener.
TEST_F(SdkMainTest, CommandsWaitForTheGreetingThenGoOneByOneInOrder) {
  sdk = create();
  const std::string answer = R"({"id":5,"result":true})";
  connection->feed(kHead + sb::control(answer));
  ASSERT_EQ(sdk->stream_setup("http://cam.example:8080/control/eventstream.jpg"), 1);
  sdk->setAudioOutputName("mic");
  const std::tuple<std::function<int()>, std::string, std::string> cases[] = {
      {[&] { return sdk->audioOutput(false); }, "audiooutput", R"(["off"])"},
      {[&] { return sdk->audioOutput(true); }, "audiooutput", R"(["mic"])"},
      {[&] { return sdk->videoEnable(true); }, "video_enable", R"([true])"},
      {[&] { return sdk->size(1, 1, false); }, "size", R"([{"w":1,"h":1,"fix":false,"configmode":"off"}])"},
      {[&] { return sdk->thermalRaw(true); }, "setThermalRaw", R"([true])"},
      {[&] { return sdk->live(); }, "live", R"([])"},
      {[&] { return sdk->mode("live"); }, "mode", R"(["live"])"},
      {[&] { return sdk->fps(12.5); }, "fps", R"([12.50])"},
      {[&] { return sdk->setRate(2); }, "setRate", R"([2.00])"},
      {[&] { return sdk->sensor("right"); }, "sensor", R"([{"sensor":"right","configmode":"on"}])"},
      {[&] { return sdk->displayMode("dual", true); }, "display_mode", R"([{"dm":"dual","configmode":"on"}])"},
      {[&] { return sdk->rotorCommand(1, 2, 3, 4, 5, false); }, "RotorCommand",
       R"([{"ver":1,"cmd":1,"para1":2,"para2":3,"para3":4,"ptz_window":5,"configmode":"off"}])"},
      {[&] { return sdk->play(12, 45000); }, "play", R"([12.045])"},
      {[&] { return sdk->pause(); }, "pause", R"([])"},
      {[&] { return sdk->seek("first"); }, "seek", R"([{"unit": "WellKnownPosition","name": "first"}])"},
      {[&] { return sdk->jump(-3); }, "jump", R"([{"unit":"EventImage","offset":-3}])"},
      {[&] { return sdk->show(); }, "show", R"([])"},
  };
  std::string expected =
      "POST /control/eventstream.jpg HTTP/1.0\r\nHost: cam.example\r\nConnection: close\r\n"
      "User-Agent: zl-client (ES-Client 1.1.0-4)\r\nAuthorization: Basic YWRtaW46cHc=\r\n\r\n";
  int id = 2;
  for (const auto& [command, method, params] : cases) {
    EXPECT_EQ(command(), id) << method;
    expected += R"({"method":")" + method + R"(","id":)" + std::to_string(id++) + R"(,"params":)" + params + "}";
    expected += '\0';
  }
  for (int step = 0; step < 5; ++step) sdk->stepLoop();
  EXPECT_EQ(connection->sentBytes, expected.substr(0, expected.find("\r\n\r\n") + 4)) << "not before the greeting";
  connection->feed(kGreeting);
  for (size_t step = 0; step <= std::size(cases) + 1; ++step) {
    sdk->stepLoop();
    EXPECT_EQ(std::count(connection->sentBytes.begin(), connection->sentBytes.end(), '\0'),
              std::min(step, std::size(cases)));
  }
  EXPECT_EQ(connection->sentBytes, expected);
  EXPECT_EQ(client->events, (Events{{5, answer}, {0, kGreeting.substr(4)}}));
  EXPECT_EQ(sdk->close(false), 1);
}

// Answers and events reach the listener with their ids; ids the camera never sent (a key ending in
// "id", a number out of range, text past the zero byte) give -1.
TEST_F(SdkMainTest, AnswersReachTheListenerWithTheirIds) {
  std::string stream;
  for (const std::string& text :
       {std::string("{\"id\":0,\"result\":\"ok\"}"), std::string("{\"id\": 5,\"result\":true}\0\0", 26),
        std::string("{\"event\":\"motion\"}"), std::string(), std::string("{\"id\": -3}"),
        std::string("{\"id\":99999999999}"), std::string("{\"uid\":7,\"id\":8}"), std::string("{\"x\0\"id\":5}", 11)})
    stream += sb::control(text);
  run(stream);
  EXPECT_EQ(client->events, (Events{{0, "{\"id\":0,\"result\":\"ok\"}"},
                                    {5, "{\"id\": 5,\"result\":true}"},
                                    {-1, "{\"event\":\"motion\"}"},
                                    {-1, ""},
                                    {-3, "{\"id\": -3}"},
                                    {-1, "{\"id\":99999999999}"},
                                    {8, "{\"uid\":7,\"id\":8}"},
                                    {-1, "{\"x"}}));
}

// Five failed sends in a row are retried; a sixth ends the connection (Error) and drops the queued
// commands: they do not go out after a reconnect and a new greeting.
TEST_F(SdkMainTest, ALostConnectionDropsTheQueuedCommands) {
  run(kGreeting);
  connection->sentBytes.clear();
  connection->sendFailures = 5;
  sdk->live();
  sdk->stepLoop();
  EXPECT_EQ(connection->sentBytes, R"({"method":"live","id":2,"params":[]})" + std::string(1, '\0'));
  connection->sentBytes.clear();
  connection->sendFailures = 6;
  sdk->pause();
  sdk->show();
  for (int step = 0; step < 4; ++step) sdk->stepLoop();
  EXPECT_EQ(capture.count("Can't send query, retry"), 10u);
  EXPECT_EQ(std::make_tuple(sdk->networkStatus(), connection->states.back(), connection->connects),
            std::make_tuple(int{eNetStatus_Error}, 4, 1));
  for (const char* line :
       {"Failed to send data, closing connection", "Error 0 during network operation  Failed to send data",
        "ERROR: connection status is 6, cannot send data:\n{\"method\":\"pause\",\"id\":3,\"params\":[]}",
        "failed to send commands, connection lost? dropping command queue! you need to reconnect "
        "before queuing new commands"})
    EXPECT_TRUE(capture.has(line)) << line;
  connection->feed(kHead + kGreeting);
  EXPECT_EQ(sdk->connect(), 1);
  for (int step = 0; step < 4; ++step) sdk->stepLoop();
  EXPECT_EQ(client->events.size(), 2u) << "the camera greeted again";
  EXPECT_EQ(connection->sentBytes.find('\0'), std::string::npos) << "no command went out";
}

// Text header, time block and both sensors' thermal blocks (one compressed, both split, interleaved)
// reach the sink with the picture, whatever the receive sizes; thermal slots are per picture (also
// after one dropped for a broken segment), and pictures need no blocks.
TEST_F(SdkMainTest, PicturesCarryTimesSectionsAndThermalData) {
  std::vector<uint16_t> raw0(8 * 6, sb::rawFor(20.0));
  raw0[5] = sb::rawFor(80.0);
  std::vector<std::string> blocks = {"#:R9IMG\nSECTION IMAGE\nNAME=first\nENDSECTION IMAGE\n",
                                     sb::zlf(1700000000123456ull)};
  const auto first = sb::thermalSegments({.width = 8, .height = 6}, raw0, 3);
  const auto second = sb::thermalSegments({.compressed = true, .sensor = 1, .width = 4, .height = 3},
                                          std::vector<uint16_t>(4 * 3, sb::rawFor(-5.0)), 2);
  for (size_t i = 0; i < first.size(); ++i) {  // the sensors' blocks interleaved, sensor 1 first
    if (i < second.size()) blocks.push_back(second[i].substr(4));
    blocks.push_back(first[i].substr(4));
  }
  std::string broken = sb::picture(
      {sb::thermalSegments({.width = 4, .height = 2}, std::vector<uint16_t>(4 * 2, sb::rawFor(30.0)))[0].substr(4)},
      100);
  broken.insert(broken.find("\xFF\xDB"), "\xFF\x42");
  const std::string stream = kGreeting + sb::picture(blocks, 3000, 1) + sb::picture({sb::zlf(2000000)}, 500, 2) +
                             broken + sb::picture({}, 200);
  for (std::vector<size_t> sizes : {std::vector<size_t>{}, {1}, {7, 300, 1}}) {
    client->images.clear();
    run(stream, sizes);
    ASSERT_EQ(client->images.size(), 3u);
    const Zelta_Image& first = *client->images[0];
    EXPECT_EQ(first.frameTime(), (Zelta_ImageTime{1700000000, 123456}));
    EXPECT_EQ(std::make_pair(first.width(), first.height()), std::make_pair(1920u, 1080u));
    const auto t0 = first.thermalRawData(0), t1 = first.thermalRawData(1);
    ASSERT_TRUE(first.textHeader() && t0 && t1);
    EXPECT_NEAR(t0->getTemperature(5, 0, ZLT_Celsius), 80.0, 0.05);
    EXPECT_NEAR(t0->getTemperature(0, 5, ZLT_Celsius), 20.0, 0.05);
    EXPECT_EQ(t1->getTemperatures(ZLT_Celsius).size(), 12u);
    EXPECT_NEAR(t1->getTemperature(3, 2, ZLT_Celsius), -5.0, 0.05);
    EXPECT_EQ(std::make_pair(client->images[1]->frameTime(), client->images[2]->frameTime()),
              std::make_pair(Zelta_ImageTime{2, 0}, Zelta_ImageTime{0, 0}));
    EXPECT_FALSE(client->images[1]->thermalRawData(0) || client->images[2]->thermalRawData(0));
  }
  for (const char* line : {"unknown marker: ", "No ZLF header found in frame? Timestamps will be incorrect!",
                           "error parsing R9IMG frame headers of image"})
    EXPECT_TRUE(capture.has(line)) << line;
}

// Commands before a setup are refused; a second setup closes the first connection and builds the
// pipeline anew; a failed one (a bad URL) leaves nothing running.
TEST_F(SdkMainTest, SecondSetupReplacesThePipeline) {
  sdk = create();
  EXPECT_EQ(std::make_pair(sdk->live(), sdk->close(false)), std::make_pair(-2, -1)) << "nothing before a setup";
  run(sb::picture({sb::zlf(1)}, 100));
  ASSERT_EQ(client->images.size(), 1u);
  connection->feed(kHead + sb::picture({sb::zlf(2)}, 100));
  ASSERT_EQ(sdk->stream_setup("http://127.0.0.1/control/eventstream.jpg"), 1);
  for (int step = 0; step < 10; ++step) sdk->stepLoop();
  EXPECT_EQ(std::make_pair(connection->connects, connection->closes), std::make_pair(2, 1));
  ASSERT_EQ(client->images.size(), 2u);
  EXPECT_EQ(client->images[1]->frameTime(), (Zelta_ImageTime{0, 2}));

  EXPECT_EQ(sdk->stream_setup("camera"), -1);
  EXPECT_TRUE(capture.has("Error invalid url: camera"));
  EXPECT_EQ(std::make_tuple(connection->closes, sdk->networkStatus(), sdk->live()), std::make_tuple(2, -1, -2));
  sdk->stepLoop();
}

// Broken marker segments: the decoder names the fault and the picture is dropped.
TEST(DecoderTest, BrokenSegmentsAreNamedAndDropped) {
  const std::string good = sb::picture({sb::zlf(5)}, 100);
  const size_t dqt = good.find("\xFF\xDB");
  const struct {
    std::string name, bytes, message;
  } cases[] = {
      {"no start of image", "\x00\x01" + good.substr(2), "Error: No segment start found "},
      {"junk between segments", good.substr(0, dqt) + "x" + good.substr(dqt), "Error: No segment start found "},
      {"length past the end", good.substr(0, dqt + 2) + "\xFF\xF0", "Error decoding segment"},
      {"unknown marker", good.substr(0, dqt) + "\xFF\x42" + good.substr(dqt), "unknown marker: "},
      {"cut after a marker byte", good.substr(0, dqt + 1), "Error: No segment found in 1 bytes data"},
      {"scan without end", good.substr(0, good.size() - 2), "Error decoding segment"},
      {"no bytes at all", "", "Critical: No decoding buffer, abort"},
  };
  const auto image = [](const std::string& bytes) {
    return Zelta_ImageImpl_SDK(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  Zelta_Decoder decoder;
  for (const auto& c : cases) {
    PrintCapture capture;
    auto broken = image(c.bytes);
    EXPECT_FALSE(decoder.decode(broken)) << c.name;
    EXPECT_TRUE(capture.has(c.message)) << c.name;
  }
  auto whole = image(good);
  EXPECT_TRUE(decoder.decode(whole) && whole.infoBlock());

  // A picture whose blocks cannot be held is dropped, and the decoder goes on with the next one.
  struct Unholdable : Zelta_ImageImpl_SDK {
    using Zelta_ImageImpl_SDK::Zelta_ImageImpl_SDK;
    void setInfoBlock(Zelta_Block) override { throw std::bad_alloc(); }
  } unholdable(reinterpret_cast<const uint8_t*>(good.data()), good.size());
  PrintCapture capture;
  EXPECT_FALSE(decoder.decode(unholdable));
  EXPECT_TRUE(capture.has("Out-of-memory: Decoder failes"));
  EXPECT_TRUE(decoder.decode(whole));
}

// Audio both ways: a PCM16 stream reaches the sink; audio sent goes as A-law at 8 kHz behind its
// stream header, every 16-bit sample coming back through the SDK's decoder within one quantisation
// step of its segment (16 below magnitude 512, then doubling per segment up to 1024).
TEST_F(SdkMainTest, AudioIsConvertedAndSentAsALaw) {
  run(sb::audio(std::string("ZLS\0\0\0\0\0\x40\x1F\0\0 P16\x01\x01", 18)) +  // PCM16 at 8 kHz, then 80 samples
      sb::audio(std::string("ZLA\0", 4) + std::string(16, '\0') + std::string(160, '\x10')));
  EXPECT_EQ(client->bytes, 160u);

  connection->sentBytes.clear();
  sdk->setAudioSendCodec(Zelta_Codec_ALaw);
  EXPECT_EQ(sdk->sendAudio(nullptr), 0u);
  EXPECT_TRUE(capture.has("no data passed to audio sender"));
  auto packet = Zelta_AudioVector::make(Zelta_AudioFormat(), {1, 2}, Zelta_AudioPacket_Data,
                                        std::vector<uint8_t>(320).data(), 320);
  EXPECT_EQ(sdk->sendAudio(packet.get()), 80u) << "160 samples at 16 kHz become 80 A-law bytes at 8 kHz";
  EXPECT_EQ(connection->sentBytes,
            Zelta_SendAudio::streamHeaderSegment(Zelta_AudioFormat(Zelta_Codec_ALaw, 8000, 0, 1)) +
                Zelta_SendAudio::dataSegment(std::vector<uint8_t>(80, 0xD5).data(), 80, 1000002));
  connection->sentBytes.clear();
  std::vector<uint8_t> pcm;
  for (int v = -32768; v <= 32767; ++v)
    pcm.insert(pcm.end(), {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8 & 0xFF)});
  packet = Zelta_AudioVector::make(Zelta_AudioFormat(Zelta_Codec_PCM16, 8000, 2, 1), {1, 0}, Zelta_AudioPacket_Data,
                                   pcm.data(), pcm.size());
  ASSERT_EQ(sdk->sendAudio(packet.get()), 65536u);
  std::string alaw;  // the samples of the "ZLA" segments, after the "ZLS" header
  const std::string& sent = connection->sentBytes;
  for (size_t at = 0; at + 4 <= sent.size();) {
    const size_t length = static_cast<uint8_t>(sent[at + 2]) * 256 + static_cast<uint8_t>(sent[at + 3]) + 2;
    if (sent.compare(at + 4, 4, std::string("ZLA\0", 4)) == 0) alaw += sent.substr(at + 24, length - 24);
    at += length;
  }
  ASSERT_EQ(alaw.size(), 65536u);
  for (int v = -32768; v <= 32767; ++v) {
    const int magnitude = std::min(std::abs(v), 32767);
    int step = 16;
    for (int top = 512; top <= magnitude; top <<= 1) step <<= 1;
    const int back = Zelta_AudioReaderALaw::decode(static_cast<uint8_t>(alaw[v + 32768]));
    ASSERT_LE(std::abs(back - v), step) << "sample " << v << " came back as " << back;
  }
}

}  // namespace
