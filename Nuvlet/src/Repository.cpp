// The model repository loader. The format is documented in docs/repository.md; every problem is
// reported with the path of the offending member ("models[3].video[0].streams[1]: ...").
#include "host/Nuvlet/Repository.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <set>
#include <stdexcept>

#include "Nuvlet/src/Json.h"
#include "host/Nuvlet/Logging.h"

namespace Talvo {
namespace Utility {

namespace {

using Json::Type;
using Json::Value;

constexpr size_t kMaxRepositorySize = 4u * 1024 * 1024;

// A content problem; the text is "<where>: <what>".
class RepositoryError : public std::runtime_error {
 public:
  RepositoryError(const std::string& where, const std::string& what)
      : std::runtime_error(where.empty() ? what : where + ": " + what) {}
};

// Reads the whole file into `content`. 0, or 1 with `problem` set when it cannot be read; 2 when
// it is larger than the cap.
int readRepositoryFile(const std::string& path, std::string& content, std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = std::string("cannot be opened (") + std::strerror(errno) + ")";
    return 1;
  }
  struct stat status {};
  int result = 0;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    problem = "is not a regular file";
    result = 1;
  }
  char chunk[65536];
  while (result == 0) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = std::string("cannot be read (") + std::strerror(errno) + ")";
      result = 1;
    } else if (got == 0) {
      break;
    } else if (content.size() + static_cast<size_t>(got) > kMaxRepositorySize) {
      problem = "is larger than " + std::to_string(kMaxRepositorySize / (1024 * 1024)) + " MiB";
      result = 2;
    } else {
      content.append(chunk, static_cast<size_t>(got));
    }
  }
  ::close(fd);
  return result;
}

std::string memberPath(const std::string& where, const std::string& name) {
  return where.empty() ? name : where + "." + name;
}

std::string itemPath(const std::string& where, size_t index) { return where + "[" + std::to_string(index) + "]"; }

// "an integer", "a string".
std::string withArticle(Type type) {
  const std::string name = Json::typeName(type);
  return (std::strchr("aeiou", name[0]) ? "an " : "a ") + name;
}

void expectType(const Value& value, Type type, const std::string& where) {
  if (!value.is(type))
    throw RepositoryError(where, "must be " + withArticle(type) + ", not " + withArticle(value.type));
}

// Rejects members a reader does not know, so that a misspelt name does not pass unseen.
void expectOnlyMembers(const Value& object, const std::string& where, std::initializer_list<const char*> known) {
  for (const auto& member : object.members) {
    bool found = false;
    for (const char* name : known) found = found || member.first == name;
    if (!found) throw RepositoryError(where, "unknown member '" + member.first + "'");
  }
}

const Value& requiredMember(const Value& object, const std::string& name, Type type, const std::string& where) {
  const Value* member = object.find(name);
  if (!member) throw RepositoryError(where, "member '" + name + "' is missing");
  expectType(*member, type, memberPath(where, name));
  return *member;
}

// The member, checked for `type`; null when it is absent.
const Value* optionalMember(const Value& object, const std::string& name, Type type, const std::string& where) {
  const Value* member = object.find(name);
  if (member) expectType(*member, type, memberPath(where, name));
  return member;
}

std::string requiredText(const Value& object, const std::string& name, const std::string& where) {
  const std::string& text = requiredMember(object, name, Type::String, where).text;
  if (text.empty()) throw RepositoryError(memberPath(where, name), "must not be empty");
  return text;
}

int toInt(const Value& value, const std::string& where) {
  if (value.integer < INT_MIN || value.integer > INT_MAX) throw RepositoryError(where, "integer out of range");
  return static_cast<int>(value.integer);
}

GDRV::PropertyPtr readProperty(const std::string& name, const Value& value, const std::string& where) {
  switch (value.type) {
    case Type::Bool:
      return std::make_shared<GDRV::PropertyBool>(name, value.boolean);
    case Type::Int:
      return std::make_shared<GDRV::PropertyInt>(name, toInt(value, where));
    case Type::Double:
      return std::make_shared<GDRV::PropertyDouble>(name, value.number);
    case Type::String:
      return std::make_shared<GDRV::PropertyString>(name, value.text);
    default:
      throw RepositoryError(where, "must be a boolean, a number or a string, not " + withArticle(value.type));
  }
}

// An optional object of named values.
GDRV::Properties readProperties(const Value& owner, const char* name, const std::string& where) {
  GDRV::Properties properties;
  const Value* object = optionalMember(owner, name, Type::Object, where);
  if (!object) return properties;
  const std::string path = memberPath(where, name);
  for (const auto& member : object->members)
    properties.push_back(readProperty(member.first, member.second, memberPath(path, member.first)));
  return properties;
}

void readChannelBase(const Value& channel, const std::string& where, GDRV::ChannelDescription& description) {
  description.parameters = readProperties(channel, "parameters", where);
  description.settings = readProperties(channel, "settings", where);
}

// A list of channel objects under `name`; absent means none. `readOne` fills one element.
template <class Description, class ReadOne>
std::vector<Description> readChannelList(const Value& model, const char* name, const std::string& where,
                                         ReadOne readOne) {
  std::vector<Description> channels;
  const Value* list = optionalMember(model, name, Type::Array, where);
  if (!list) return channels;
  const std::string listPath = memberPath(where, name);
  for (size_t i = 0; i < list->items.size(); ++i) {
    const std::string path = itemPath(listPath, i);
    expectType(list->items[i], Type::Object, path);
    Description description;
    readOne(list->items[i], path, description);
    channels.push_back(std::move(description));
  }
  return channels;
}

class InfoReader {
 public:
  explicit InfoReader(GDRV::DriverInfo& info) : info_(info) {}

  void read(const Value& root) {
    expectType(root, Type::Object, "the document");
    expectOnlyMembers(root, "", {"name", "number", "codecs", "streams", "detectors", "models"});
    info_.name = requiredText(root, "name", "");
    info_.number = toInt(requiredMember(root, "number", Type::Int, ""), "number");
    readCodecs(root);
    readStreams(root);
    readDetectors(root);
    const Value& models = requiredMember(root, "models", Type::Array, "");
    if (models.items.empty()) throw RepositoryError("models", "must not be empty");
    for (size_t i = 0; i < models.items.size(); ++i)
      info_.models.push_back(readModel(models.items[i], itemPath("models", i)));
  }

 private:
  void readCodecs(const Value& root) {
    const Value* codecs = optionalMember(root, "codecs", Type::Object, "");
    if (!codecs) return;
    for (const auto& member : codecs->members) {
      const std::string path = memberPath("codecs", member.first);
      expectType(member.second, Type::Object, path);
      expectOnlyMembers(member.second, path, {"name", "value"});
      GDRV::CodecDescription codec;
      codec.name = requiredText(member.second, "name", path);
      codec.value = requiredMember(member.second, "value", Type::String, path).text;
      info_.codecs[member.first] = std::move(codec);
    }
  }

  void readStreams(const Value& root) {
    const Value* streams = optionalMember(root, "streams", Type::Object, "");
    if (!streams) return;
    for (const auto& member : streams->members) {
      const std::string path = memberPath("streams", member.first);
      expectType(member.second, Type::Array, path);
      if (member.second.items.empty()) throw RepositoryError(path, "must name at least one codec");
      std::vector<std::string> codecIds;
      for (size_t i = 0; i < member.second.items.size(); ++i) {
        const Value& id = member.second.items[i];
        expectType(id, Type::String, itemPath(path, i));
        if (!info_.codecs.count(id.text))
          throw RepositoryError(itemPath(path, i), "codec '" + id.text + "' is not defined");
        codecIds.push_back(id.text);
      }
      info_.streamCodecs[member.first] = std::move(codecIds);
    }
  }

  void readDetectors(const Value& root) {
    const Value* detectors = optionalMember(root, "detectors", Type::Object, "");
    if (!detectors) return;
    for (const auto& member : detectors->members) {
      const std::string path = memberPath("detectors", member.first);
      expectType(member.second, Type::Object, path);
      expectOnlyMembers(member.second, path, {"properties", "settings"});
      GDRV::DetectorDescription detector;
      detector.properties = readProperties(member.second, "properties", path);
      detector.settings = readProperties(member.second, "settings", path);
      info_.detectors[member.first] = std::move(detector);
    }
  }

  static GDRV::IdentityRecord readIdentity(const Value& identity, const std::string& where) {
    expectType(identity, Type::Object, where);
    expectOnlyMembers(identity, where, {"vendor", "model", "firmware"});
    GDRV::IdentityRecord record;
    record.vendor = requiredText(identity, "vendor", where);
    record.model = requiredText(identity, "model", where);
    if (const Value* firmware = optionalMember(identity, "firmware", Type::Array, where)) {
      for (size_t i = 0; i < firmware->items.size(); ++i) {
        expectType(firmware->items[i], Type::String, itemPath(memberPath(where, "firmware"), i));
        record.firmware.push_back(firmware->items[i].text);
      }
    }
    return record;
  }

  void readVideoChannel(const Value& channel, const std::string& where, GDRV::VideoChannelDescription& video) const {
    expectOnlyMembers(channel, where, {"parameters", "settings", "streams"});
    readChannelBase(channel, where, video);
    const Value& streams = requiredMember(channel, "streams", Type::Array, where);
    const std::string streamsPath = memberPath(where, "streams");
    if (streams.items.empty()) throw RepositoryError(streamsPath, "must not be empty");
    for (size_t i = 0; i < streams.items.size(); ++i) {
      const std::string path = itemPath(streamsPath, i);
      const Value& stream = streams.items[i];
      expectType(stream, Type::Object, path);
      expectOnlyMembers(stream, path, {"description", "settings"});
      GDRV::StreamDescriptionRef ref;
      ref.description = requiredText(stream, "description", path);
      if (!info_.streamCodecs.count(ref.description))
        throw RepositoryError(path, "stream description '" + ref.description + "' is not defined");
      ref.settings = readProperties(stream, "settings", path);
      video.streams.push_back(std::move(ref));
    }
  }

  GDRV::ModelEntry readModel(const Value& model, const std::string& where) const {
    expectType(model, Type::Object, where);
    expectOnlyMembers(model, where,
                      {"identities", "properties", "video", "audio_sources", "audio_destinations", "io", "telemetry",
                       "text_event_sources", "detectors"});
    GDRV::ModelEntry entry;
    const Value& identities = requiredMember(model, "identities", Type::Array, where);
    if (identities.items.empty()) throw RepositoryError(memberPath(where, "identities"), "must not be empty");
    for (size_t i = 0; i < identities.items.size(); ++i)
      entry.identities.push_back(readIdentity(identities.items[i], itemPath(memberPath(where, "identities"), i)));
    entry.properties = readProperties(model, "properties", where);

    auto plainChannel = [](const Value& channel, const std::string& path, GDRV::ChannelDescription& description) {
      expectOnlyMembers(channel, path, {"parameters", "settings"});
      readChannelBase(channel, path, description);
    };
    entry.videoChannels = readChannelList<GDRV::VideoChannelDescription>(
        model, "video", where,
        [this](const Value& channel, const std::string& path, GDRV::VideoChannelDescription& description) {
          readVideoChannel(channel, path, description);
        });
    entry.audioSources = readChannelList<GDRV::ChannelDescription>(model, "audio_sources", where, plainChannel);
    entry.audioDestinations =
        readChannelList<GDRV::ChannelDescription>(model, "audio_destinations", where, plainChannel);
    entry.ioDevices = readChannelList<GDRV::IODeviceDescription>(
        model, "io", where, [](const Value& channel, const std::string& path, GDRV::IODeviceDescription& description) {
          expectOnlyMembers(channel, path, {"kind", "parameters", "settings"});
          description.kind = requiredText(channel, "kind", path);
          readChannelBase(channel, path, description);
        });
    entry.telemetries = readChannelList<GDRV::ChannelDescription>(model, "telemetry", where, plainChannel);
    entry.textEventSources =
        readChannelList<GDRV::ChannelDescription>(model, "text_event_sources", where, plainChannel);

    if (const Value* detectors = optionalMember(model, "detectors", Type::Array, where)) {
      const std::string listPath = memberPath(where, "detectors");
      for (size_t i = 0; i < detectors->items.size(); ++i) {
        const Value& id = detectors->items[i];
        expectType(id, Type::String, itemPath(listPath, i));
        if (!info_.detectors.count(id.text))
          throw RepositoryError(itemPath(listPath, i), "detector '" + id.text + "' is not defined");
        entry.detectors.push_back(id.text);
      }
    }
    return entry;
  }

  GDRV::DriverInfo& info_;
};

}  // namespace

RepoLoader::RepoLoader(ILogger* logger) : logger_(logger) {}

int RepoLoader::load(const std::string& path, GDRV::DriverInfo& driverInfo) {
  const LoggerOwner log(logger_, "");
  std::string content;
  std::string problem;
  int result = readRepositoryFile(path, content, problem);
  GDRV::DriverInfo loaded;
  if (result == 0) {
    try {
      InfoReader(loaded).read(Json::parse(content));
    } catch (const Json::ParseError& e) {
      problem = e.what();
      result = 2;
    } catch (const RepositoryError& e) {
      problem = e.what();
      result = 2;
    } catch (const std::exception& e) {
      problem = std::string("cannot be loaded: ") + e.what();
      result = 2;
    }
  }
  if (result != 0) {
    lastError_ = "Repository '" + path + "': " + problem;
    NLOG(log, 3, " " << lastError_);
    return result;
  }
  lastError_.clear();
  driverInfo = std::move(loaded);
  return 0;
}

}  // namespace Utility
}  // namespace Talvo
