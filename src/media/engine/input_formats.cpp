#include "media/engine/input_formats.h"

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "media/runtime/ff_load.h"

namespace lumivor {
namespace {

struct Entry {
  InProcessInputFormat Format;
  AVInputFormat Record{};
};

struct Table {
  std::mutex Lock;
  // A deque keeps entries in place as it grows, so the pointers handed out stay valid.
  std::deque<Entry> Entries;
};

Table& GetTable() {
  static Table table;
  return table;
}

}  // namespace

bool RegisterDemuxerOnce(const InProcessInputFormat& format) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> guard(table.Lock);
  for (const Entry& entry : table.Entries) {
    if (entry.Format.Name == format.Name) return false;
  }
  Entry& entry = table.Entries.emplace_back();
  entry.Format = format;
  std::memset(&entry.Record, 0, sizeof entry.Record);
  entry.Record.name = entry.Format.Name.c_str();
  entry.Record.long_name = entry.Format.LongName.c_str();
  entry.Record.priv_class = entry.Format.PrivClass;
  entry.Format.LibraryRecord = &entry.Record;
  return true;
}

const InProcessInputFormat* FindInProcessInputFormat(const std::string& name) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> guard(table.Lock);
  for (const Entry& entry : table.Entries) {
    if (entry.Format.Name == name) return &entry.Format;
  }
  return nullptr;
}

std::vector<const InProcessInputFormat*> InProcessInputFormats() {
  Table& table = GetTable();
  std::lock_guard<std::mutex> guard(table.Lock);
  std::vector<const InProcessInputFormat*> result;
  for (const Entry& entry : table.Entries) result.push_back(&entry.Format);
  return result;
}

bool RegisterProtocolOnce(const std::string& name) {
  void* opaque = nullptr;
  while (const char* protocol = lib::avio_enum_protocols(&opaque, 0)) {
    if (name == protocol) return true;
  }
  return false;
}

}  // namespace lumivor
