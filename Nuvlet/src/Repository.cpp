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

using Json::Value;
using Type = Value::value_t;

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
std::string withArticle(const char* name) { return (std::strchr("aeiou", name[0]) ? "an " : "a ") + std::string(name); }

// The kinds of value the repository asks for. Integer is a number written without fraction or
// exponent; Number_float stands for any number.
bool isOfType(const Value& value, Type type) {
  switch (type) {
    case Type::number_integer:
      return value.is_number_integer();
    case Type::number_float:
      return value.is_number();
    default:
      return value.type() == type;
  }
}

void expectType(const Value& value, Type type, const std::string& where) {
  if (!isOfType(value, type))
    throw RepositoryError(
        where, "must be " + withArticle(Json::typeName(Value(type))) + ", not " + withArticle(Json::typeName(value)));
}

const Value* find(const Value& object, const std::string& name) {
  const auto member = object.find(name);
  return member == object.end() ? nullptr : &*member;
}

// Rejects members a reader does not know, so that a misspelt name does not pass unseen.
void expectOnlyMembers(const Value& object, const std::string& where, std::initializer_list<const char*> known) {
  for (const auto& member : object.items()) {
    bool found = false;
    for (const char* name : known) found = found || member.key() == name;
    if (!found) throw RepositoryError(where, "unknown member '" + member.key() + "'");
  }
}

const Value& requiredMember(const Value& object, const std::string& name, Type type, const std::string& where) {
  const Value* member = find(object, name);
  if (!member) throw RepositoryError(where, "member '" + name + "' is missing");
  expectType(*member, type, memberPath(where, name));
  return *member;
}

// The member, checked for `type`; null when it is absent.
const Value* optionalMember(const Value& object, const std::string& name, Type type, const std::string& where) {
  const Value* member = find(object, name);
  if (member) expectType(*member, type, memberPath(where, name));
  return member;
}

std::string requiredText(const Value& object, const std::string& name, const std::string& where) {
  const std::string& text = requiredMember(object, name, Type::string, where).get_ref<const std::string&>();
  if (text.empty()) throw RepositoryError(memberPath(where, name), "must not be empty");
  return text;
}

int toInt(const Value& value, const std::string& where) {
  const bool fits = value.is_number_unsigned() ? value.get<uint64_t>() <= INT_MAX
                                               : value.get<int64_t>() >= INT_MIN && value.get<int64_t>() <= INT_MAX;
  if (!fits) throw RepositoryError(where, "integer out of range");
  return static_cast<int>(value.get<int64_t>());
}

const std::string& textOf(const Value& value) { return value.get_ref<const std::string&>(); }

GDRV::PropertyPtr readProperty(const std::string& name, const Value& value, const std::string& where) {
  if (value.is_boolean()) return std::make_shared<GDRV::PropertyBool>(name, value.get<bool>());
  if (value.is_number_integer()) return std::make_shared<GDRV::PropertyInt>(name, toInt(value, where));
  if (value.is_number()) return std::make_shared<GDRV::PropertyDouble>(name, value.get<double>());
  if (value.is_string()) return std::make_shared<GDRV::PropertyString>(name, textOf(value));
  throw RepositoryError(where, "must be a boolean, a number or a string, not " + withArticle(Json::typeName(value)));
}

// An optional object of named values.
GDRV::Properties readProperties(const Value& owner, const char* name, const std::string& where) {
  GDRV::Properties properties;
  const Value* object = optionalMember(owner, name, Type::object, where);
  if (!object) return properties;
  const std::string path = memberPath(where, name);
  for (const auto& member : object->items())
    properties.push_back(readProperty(member.key(), member.value(), memberPath(path, member.key())));
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
  const Value* list = optionalMember(model, name, Type::array, where);
  if (!list) return channels;
  const std::string listPath = memberPath(where, name);
  for (size_t i = 0; i < list->size(); ++i) {
    const std::string path = itemPath(listPath, i);
    expectType((*list)[i], Type::object, path);
    Description description;
    readOne((*list)[i], path, description);
    channels.push_back(std::move(description));
  }
  return channels;
}

class InfoReader {
 public:
  explicit InfoReader(GDRV::DriverInfo& info) : info_(info) {}

  void read(const Value& root) {
    expectType(root, Type::object, "the document");
    expectOnlyMembers(root, "", {"name", "number", "codecs", "streams", "detectors", "models"});
    info_.name = requiredText(root, "name", "");
    info_.number = toInt(requiredMember(root, "number", Type::number_integer, ""), "number");
    readCodecs(root);
    readStreams(root);
    readDetectors(root);
    const Value& models = requiredMember(root, "models", Type::array, "");
    if (models.empty()) throw RepositoryError("models", "must not be empty");
    for (size_t i = 0; i < models.size(); ++i) info_.models.push_back(readModel(models[i], itemPath("models", i)));
  }

 private:
  void readCodecs(const Value& root) {
    const Value* codecs = optionalMember(root, "codecs", Type::object, "");
    if (!codecs) return;
    for (const auto& member : codecs->items()) {
      const std::string path = memberPath("codecs", member.key());
      expectType(member.value(), Type::object, path);
      expectOnlyMembers(member.value(), path, {"name", "value"});
      GDRV::CodecDescription codec;
      codec.name = requiredText(member.value(), "name", path);
      codec.value = textOf(requiredMember(member.value(), "value", Type::string, path));
      info_.codecs[member.key()] = std::move(codec);
    }
  }

  void readStreams(const Value& root) {
    const Value* streams = optionalMember(root, "streams", Type::object, "");
    if (!streams) return;
    for (const auto& member : streams->items()) {
      const std::string path = memberPath("streams", member.key());
      expectType(member.value(), Type::array, path);
      if (member.value().empty()) throw RepositoryError(path, "must name at least one codec");
      std::vector<std::string> codecIds;
      for (size_t i = 0; i < member.value().size(); ++i) {
        const Value& id = member.value()[i];
        expectType(id, Type::string, itemPath(path, i));
        if (!info_.codecs.count(textOf(id)))
          throw RepositoryError(itemPath(path, i), "codec '" + textOf(id) + "' is not defined");
        codecIds.push_back(textOf(id));
      }
      info_.streamCodecs[member.key()] = std::move(codecIds);
    }
  }

  void readDetectors(const Value& root) {
    const Value* detectors = optionalMember(root, "detectors", Type::object, "");
    if (!detectors) return;
    for (const auto& member : detectors->items()) {
      const std::string path = memberPath("detectors", member.key());
      expectType(member.value(), Type::object, path);
      expectOnlyMembers(member.value(), path, {"properties", "settings", "elements"});
      GDRV::DetectorDescription detector;
      detector.properties = readProperties(member.value(), "properties", path);
      detector.settings = readProperties(member.value(), "settings", path);
      if (const Value* elements = optionalMember(member.value(), "elements", Type::object, path)) {
        for (const auto& element : elements->items())
          detector.elements[element.key()] =
              readProperties(*elements, element.key().c_str(), memberPath(path, "elements"));
      }
      info_.detectors[member.key()] = std::move(detector);
    }
  }

  static GDRV::IdentityRecord readIdentity(const Value& identity, const std::string& where) {
    expectType(identity, Type::object, where);
    expectOnlyMembers(identity, where, {"vendor", "model", "firmware"});
    GDRV::IdentityRecord record;
    record.vendor = requiredText(identity, "vendor", where);
    record.model = requiredText(identity, "model", where);
    if (const Value* firmware = optionalMember(identity, "firmware", Type::array, where)) {
      for (size_t i = 0; i < firmware->size(); ++i) {
        expectType((*firmware)[i], Type::string, itemPath(memberPath(where, "firmware"), i));
        record.firmware.push_back(textOf((*firmware)[i]));
      }
    }
    return record;
  }

  void readVideoChannel(const Value& channel, const std::string& where, GDRV::VideoChannelDescription& video) const {
    expectOnlyMembers(channel, where, {"parameters", "settings", "streams"});
    readChannelBase(channel, where, video);
    const Value& streams = requiredMember(channel, "streams", Type::array, where);
    const std::string streamsPath = memberPath(where, "streams");
    if (streams.empty()) throw RepositoryError(streamsPath, "must not be empty");
    for (size_t i = 0; i < streams.size(); ++i) {
      const std::string path = itemPath(streamsPath, i);
      const Value& stream = streams[i];
      expectType(stream, Type::object, path);
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
    expectType(model, Type::object, where);
    expectOnlyMembers(model, where,
                      {"identities", "properties", "video", "audio_sources", "audio_destinations", "io", "telemetry",
                       "text_event_sources", "detectors"});
    GDRV::ModelEntry entry;
    const Value& identities = requiredMember(model, "identities", Type::array, where);
    if (identities.empty()) throw RepositoryError(memberPath(where, "identities"), "must not be empty");
    for (size_t i = 0; i < identities.size(); ++i)
      entry.identities.push_back(readIdentity(identities[i], itemPath(memberPath(where, "identities"), i)));
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

    if (const Value* detectors = optionalMember(model, "detectors", Type::array, where)) {
      const std::string listPath = memberPath(where, "detectors");
      for (size_t i = 0; i < detectors->size(); ++i) {
        const Value& id = (*detectors)[i];
        expectType(id, Type::string, itemPath(listPath, i));
        if (!info_.detectors.count(textOf(id)))
          throw RepositoryError(itemPath(listPath, i), "detector '" + textOf(id) + "' is not defined");
        entry.detectors.push_back(textOf(id));
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
