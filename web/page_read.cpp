#include "web/page_read.hpp"

namespace ferrolet {
namespace {

// A HexEventSink for a PageRead: the first `shown` faults go on, the rest are counted.
void show_some(const HexEvent& event, void* page_read) {
  auto& read = *static_cast<PageRead*>(page_read);
  if (read.faults++ < read.shown) read.fault(event, read.fault_context);
}

}  // namespace

void begin_read(PageRead& read, std::string_view name, double size, FirmwareImage& image,
                HexSummary& summary, HexEventSink fault, void* fault_context, std::int64_t shown) {
  read = PageRead{std::string(name), size,  0, FileKind::Empty, {}, &image, &summary, fault,
                  fault_context,     shown, 0};
}

void feed_read(PageRead& read, std::span<const std::uint8_t> chunk) {
  if (read.read == 0) read.kind = file_kind(chunk, static_cast<std::uint64_t>(read.size));
  hex_feed_all(read.reader, *read.image, *read.summary,
               {reinterpret_cast<const char*>(chunk.data()), chunk.size()}, show_some, &read);
  read.read += static_cast<double>(chunk.size());
}

void finish_read(PageRead& read) {
  const HexEvent last = hex_finish(read.reader, *read.summary);
  if (last.fault != HexFault::None) show_some(last, &read);
}

}  // namespace ferrolet
