#include "sysex/sysex_upload.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string_view>
#include <vector>

namespace ferrolet {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The test's own unpacker: 7 bits per byte back into whole bytes; `count` bytes are wanted.
Bytes unpack_7bit(const Bytes& packed, std::size_t count) {
  Bytes out;
  std::uint32_t bits = 0;
  int pending = 0;
  for (const std::uint8_t b : packed) {
    bits = (bits << 7) | (b & 0x7Fu);
    pending += 7;
    if (pending >= 8 && out.size() < count) {
      pending -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> pending));
      bits &= (1u << pending) - 1u;
    }
  }
  return out;
}

Bytes ascii(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// The filler as the device's upload format defines it, written out here independently.
constexpr std::string_view FILLER =
    "plumwick was here +++ plumwick was here +++ plumwick was here +"
    "plumwick was here +++ plumwick was here +++ plumwick was here +";

TEST(Crc16Modbus, MatchesPublishedCheckValuesAndTheUploadExamples) {
  struct Row {
    const char* name;
    Bytes input;
    std::uint16_t crc;
  };
  Bytes zero_block(129, 0x00);
  zero_block[0] = 0x01;
  const std::vector<Row> rows = {
      {"CRC-16/MODBUS check value", ascii("123456789"), 0x4B37},
      {"no bytes leaves the start value", {}, 0xFFFF},
      {"header payload of a 3-block upload (CRC bytes F0 24)", {0x00, 0x03, 0x00, 0x00}, 0x24F0},
      {"data block 1 of an all-zero image (CRC bytes 27 40)", zero_block, 0x4027},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(crc16_modbus(row.input), row.crc);
  }
}

// CRC-16/MODBUS as the CRC catalogue defines it (width 16, polynomial 0x8005, start 0xFFFF,
// input and result reflected, no final XOR), computed the textbook way, most significant bit
// first on reflected bytes: another algorithm than the encoder's, from the same definition.
std::uint16_t catalogue_crc16_modbus(const Bytes& bytes) {
  const auto reflect = [](unsigned value, int bits) {
    unsigned out = 0;
    for (int i = 0; i < bits; ++i)
      out |= ((value >> i) & 1U) << (bits - 1 - i);
    return out;
  };
  unsigned reg = 0xFFFF;
  for (const std::uint8_t byte : bytes) {
    reg ^= reflect(byte, 8) << 8;
    for (int i = 0; i < 8; ++i)
      reg = (reg & 0x8000U) != 0 ? ((reg << 1) ^ 0x8005U) & 0xFFFFU : (reg << 1) & 0xFFFFU;
  }
  return static_cast<std::uint16_t>(reflect(reg, 16));
}

TEST(Crc16Modbus, MatchesTheCatalogueDefinitionForEveryLength) {
  ASSERT_EQ(catalogue_crc16_modbus(ascii("123456789")), 0x4B37);  // the catalogue's check value
  Bytes data;
  for (int n = 0; n < 64; ++n) {
    EXPECT_EQ(crc16_modbus(data), catalogue_crc16_modbus(data)) << "length " << n;
    data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
  }
}

TEST(Pack7Bit, FixedVectors) {
  struct Row {
    Bytes input;
    Bytes packed;
  };
  const std::vector<Row> rows = {
      {{}, {}},
      {{0xFF}, {0x7F, 0x40}},
      {{0x80}, {0x40, 0x00}},
      {{0x01}, {0x00, 0x40}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes(8, 0x7F)},
      {{0x12, 0x34}, {0x09, 0x0D, 0x00}},
  };
  for (const Row& row : rows) {
    Bytes out(16, 0xEE);
    ASSERT_EQ(pack_7bit(row.input, out), row.packed.size());
    out.resize(row.packed.size());
    EXPECT_EQ(out, row.packed);
  }
}

TEST(Pack7Bit, EveryLengthPacksToSevenBitBytesThatUnpackToTheInput) {
  for (std::size_t n = 0; n <= 20; ++n) {
    SCOPED_TRACE(n);
    Bytes input;
    for (std::size_t i = 0; i < n; ++i)
      input.push_back(static_cast<std::uint8_t>(0xA5 ^ (i * 29)));
    Bytes out(32, 0xEE);
    const std::size_t written = pack_7bit(input, out);
    EXPECT_EQ(written, (8 * n + 6) / 7);
    for (std::size_t i = 0; i < written; ++i)
      EXPECT_LE(out[i], 0x7F);
    EXPECT_EQ(out[written], 0xEE) << "wrote past its result";
    out.resize(written);
    EXPECT_EQ(unpack_7bit(out, n), input);
  }
}

TEST(Pack7Bit, RefusesAnOutputOneByteTooSmall) {
  // n bytes need ceil(8n / 7) output bytes: 1 -> 2, 2 -> 3, 7 -> 8, 8 -> 10.
  for (const auto& [length, needed] : {std::pair{1u, 2u}, {2u, 3u}, {7u, 8u}, {8u, 10u}}) {
    SCOPED_TRACE(length);
    Bytes out(needed - 1, 0xEE);
    const Bytes input(length, 0xFF);
    EXPECT_EQ(pack_7bit(input, out), 0u);
    EXPECT_EQ(out, Bytes(needed - 1, 0xEE));
  }
}

TEST(EncodeSysexFrame, ProducesTheWorkedFrames) {
  {
    SCOPED_TRACE("header frame of a 3-block upload");
    Bytes payload = {0x00, 0x03, 0x00, 0x00, 0xEE, 0xEE};
    Bytes out(32, 0xEE);
    ASSERT_EQ(encode_sysex_frame(payload, 4, out), 14u);
    out.resize(14);
    EXPECT_EQ(out, (Bytes{0xF0, 0x70, 0x68, 0x00, 0x15, 0x55, 0x00, 0x00, 0x60, 0x00, 0x07, 0x40,
                          0x48, 0xF7}));
    EXPECT_EQ(payload[4], 0xF0);
    EXPECT_EQ(payload[5], 0x24);
  }
  {
    SCOPED_TRACE("data block 1 of an all-zero image");
    Bytes payload(131, 0x00);
    payload[0] = 0x01;
    Bytes out(200, 0xEE);
    ASSERT_EQ(encode_sysex_frame(payload, 129, out), 157u);
    Bytes expected = {0xF0, 0x70, 0x68, 0x00, 0x15, 0x55, 0x00, 0x40};
    expected.insert(expected.end(), 145, 0x00);
    expected.insert(expected.end(), {0x02, 0x3A, 0x00, 0xF7});
    out.resize(157);
    EXPECT_EQ(out, expected);
  }
}

TEST(EncodeSysexFrame, RefusesMissingRoom) {
  Bytes payload(5, 0x00);  // 4 bytes of payload need 2 more for the CRC
  Bytes out(32, 0xEE);
  EXPECT_EQ(encode_sysex_frame(payload, 4, out), 0u);
  Bytes roomy(6, 0x00);
  Bytes small(13, 0xEE);
  EXPECT_EQ(encode_sysex_frame(roomy, 4, small), 0u);
  EXPECT_EQ(small, Bytes(13, 0xEE));
}

// Checks one upload byte by byte against the layout of the upload file and returns the 128
// content bytes of each data block in order.
Bytes check_upload_layout(const UploadBuffer& upload, int blocks) {
  const Bytes file(upload.bytes.begin(), upload.bytes.begin() + static_cast<long>(upload.used));
  EXPECT_EQ(file.size(), 84u + 157u * static_cast<unsigned>(blocks));
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 8),
            (Bytes{0xF0, 0x70, 0x7D, 0x00, 0x17, 0x04, 0x02, 0xF7}));
  EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 70), Bytes(62, 0x00));
  const Bytes frame_start = {0xF0, 0x70, 0x68, 0x00, 0x15, 0x55};

  const Bytes header(file.begin() + 70, file.begin() + 84);
  EXPECT_EQ(Bytes(header.begin(), header.begin() + 6), frame_start);
  EXPECT_EQ(header.back(), 0xF7);
  const Bytes header_payload = unpack_7bit(Bytes(header.begin() + 6, header.end() - 1), 6);
  EXPECT_EQ(Bytes(header_payload.begin(), header_payload.begin() + 4),
            (Bytes{0x00, static_cast<std::uint8_t>(blocks), 0x00, 0x00}));
  EXPECT_EQ(header_payload[4] | header_payload[5] << 8,
            catalogue_crc16_modbus(Bytes(header_payload.begin(), header_payload.begin() + 4)))
      << "header CRC, low byte first";

  Bytes content;
  for (int k = 1; k <= blocks; ++k) {
    SCOPED_TRACE(k);
    const auto at = file.begin() + 84 + 157 * (k - 1);
    const Bytes frame(at, at + 157);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), frame_start);
    EXPECT_EQ(frame.back(), 0xF7);
    for (std::size_t i = 1; i + 1 < frame.size(); ++i)
      EXPECT_LE(frame[i], 0x7F);
    const Bytes payload = unpack_7bit(Bytes(frame.begin() + 6, frame.end() - 1), 131);
    EXPECT_EQ(payload[0], k);
    EXPECT_EQ(payload[129] | payload[130] << 8,
              catalogue_crc16_modbus(Bytes(payload.begin(), payload.begin() + 129)))
        << "data block CRC, low byte first";
    content.insert(content.end(), payload.begin() + 1, payload.begin() + 129);
  }
  return content;
}

TEST(BuildUpload, LaysOutImageBytesThenFillerForEveryBlockCount) {
  struct Row {
    std::int32_t highest;
    int blocks;
    std::size_t length;
  };
  const std::vector<Row> rows = {
      {0, 1, 241},   {1, 1, 241},   {2, 1, 241},         {127, 1, 241},       {128, 2, 398},
      {255, 2, 398}, {299, 3, 555}, {16255, 127, 20023}, {16256, 128, 20180}, {16383, 128, 20180},
  };
  FirmwareImage image{};
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  image[42] = 0x00;  // a hole in the data is sent as 0x00, not as filler

  for (const Row& row : rows) {
    SCOPED_TRACE(row.highest);
    static UploadBuffer upload;
    ASSERT_EQ(build_upload(image, row.highest, upload), row.blocks);
    EXPECT_EQ(upload.used, row.length);
    const Bytes content = check_upload_layout(upload, row.blocks);
    ASSERT_EQ(content.size(), static_cast<std::size_t>(128 * row.blocks));

    const auto image_bytes = static_cast<std::size_t>(row.highest) + 1;
    EXPECT_EQ(Bytes(content.begin(), content.begin() + static_cast<long>(image_bytes)),
              Bytes(image.begin(), image.begin() + static_cast<long>(image_bytes)));
    // The filler text restarts in the last block; its 127th position, past the text, is 0x00.
    Bytes filler(FILLER.begin(), FILLER.end());
    filler.push_back(0x00);
    filler.resize(content.size() - image_bytes);
    EXPECT_EQ(Bytes(content.begin() + static_cast<long>(image_bytes), content.end()), filler);
  }
}

TEST(BuildUpload, RefusesAHighestAddressOutsideTheImage) {
  FirmwareImage image{};
  for (const std::int32_t highest : {-1, IMAGE_SIZE, IMAGE_SIZE + 7, 65535 + 254}) {
    SCOPED_TRACE(highest);
    static UploadBuffer upload;
    upload.used = 99;
    EXPECT_EQ(build_upload(image, highest, upload), 0);
    EXPECT_EQ(upload.used, 0u);
  }
}

}  // namespace
}  // namespace ferrolet

namespace ferrolet {
namespace {

Bytes upload_bytes(const FirmwareImage& image, std::int32_t highest) {
  static UploadBuffer upload;
  static_cast<void>(build_upload(image, highest, upload));
  return Bytes(upload.bytes.begin(), upload.bytes.begin() + static_cast<long>(upload.used));
}

TEST(DecodeUpload, RecoversTheImageAndFillerOfEveryUploadTheBuilderMakes) {
  FirmwareImage image{};
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 151 + 7);
  for (const std::int32_t highest : {0, 1, 126, 127, 128, 299, 8191, 16255, 16256, 16383}) {
    SCOPED_TRACE(highest);
    const Bytes file = upload_bytes(image, highest);
    std::array<std::uint8_t, IMAGE_SIZE> content{};
    const UploadCheck check = decode_upload(file, content);
    ASSERT_EQ(check.fault, UploadFault::None);
    const int blocks = highest / 128 + 1;
    EXPECT_EQ(check.blocks, blocks);
    const auto used = static_cast<std::size_t>(highest) + 1;
    Bytes expected(image.begin(), image.begin() + static_cast<long>(used));
    Bytes filler(FILLER.begin(), FILLER.end());
    filler.push_back(0x00);
    filler.resize(static_cast<std::size_t>(128 * blocks) - used);
    expected.insert(expected.end(), filler.begin(), filler.end());
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 128 * blocks), expected);
  }
}

// A data frame for block `number` with all-zero content, framed independently of the builder's
// file so it can be spliced in.
Bytes data_frame(int number) {
  Bytes payload(131, 0x00);
  payload[0] = static_cast<std::uint8_t>(number);
  Bytes frame(157);
  static_cast<void>(encode_sysex_frame(payload, 129, frame));
  return frame;
}

Bytes header_frame(std::initializer_list<std::uint8_t> four) {
  Bytes payload(four);
  payload.resize(6);
  Bytes frame(14);
  static_cast<void>(encode_sysex_frame(payload, 4, frame));
  return frame;
}

// Every single changed byte of an upload must be caught, wherever it stands and whatever it
// becomes.
TEST(DecodeUpload, CatchesEverySingleChangedByte) {
  FirmwareImage image{};
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 37);
  const Bytes good = upload_bytes(image, 299);
  std::array<std::uint8_t, IMAGE_SIZE> content{};
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (const int flip : {0x01, 0x02, 0x40, 0x80, 0xFF}) {
      Bytes file = good;
      file[at] = static_cast<std::uint8_t>(file[at] ^ flip);
      ASSERT_NE(decode_upload(file, content).fault, UploadFault::None)
          << "byte " << at << " changed by " << flip;
    }
  }
}

TEST(DecodeUpload, NamesTheFirstFaultOfABrokenFile) {
  FirmwareImage image{};
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i);
  const Bytes good = upload_bytes(image, 299);  // 3 data blocks, 555 bytes
  ASSERT_EQ(good.size(), 555u);
  constexpr std::size_t block1 = 84, block2 = 84 + 157, block3 = 84 + 2 * 157;

  struct Row {
    const char* name;
    std::function<void(Bytes&)> damage;
    UploadFault fault;
    std::int32_t frame;
    std::size_t offset;
  };
  const std::vector<Row> rows = {
      {"preamble byte changed", [](Bytes& f) { f[3] = 0x01; }, UploadFault::Preamble, -1, 3},
      {"gap byte not zero", [](Bytes& f) { f[40] = 0x01; }, UploadFault::Gap, -1, 40},
      {"first gap byte not zero", [](Bytes& f) { f[8] = 0x01; }, UploadFault::Gap, -1, 8},
      {"second block does not start with F0", [](Bytes& f) { f[block2] = 0x00; },
       UploadFault::FrameStart, 2, block2},
      {"frame header byte changed", [](Bytes& f) { f[block1 + 2] = 0x69; },
       UploadFault::FrameHeader, 1, block1 + 2},
      {"header frame header byte changed", [](Bytes& f) { f[70 + 5] = 0x56; },
       UploadFault::FrameHeader, 0, 75},
      {"data byte above 7F", [](Bytes& f) { f[block1 + 50] = 0x80; }, UploadFault::DataAbove7F, 1,
       block1 + 50},
      {"packed byte missing", [](Bytes& f) { f.erase(f.begin() + block1 + 50); },
       UploadFault::PackedLength, 1, block1 + 155},
      {"packed byte too many", [](Bytes& f) { f.insert(f.begin() + block1 + 50, 0x00); },
       UploadFault::PackedLength, 1, block1 + 156},
      {"padding bits set", [](Bytes& f) { f[block1 + 155] |= 0x01; }, UploadFault::PaddingBits, 1,
       block1 + 155},
      {"data bit flipped", [](Bytes& f) { f[block3 + 20] ^= 0x04; }, UploadFault::Crc, 3, block3},
      {"header CRC broken", [](Bytes& f) { f[70 + 7] ^= 0x01; }, UploadFault::Crc, 0, 70},
      {"header announces no blocks",
       [](Bytes& f) {
         const Bytes h = header_frame({0, 0, 0, 0});
         std::copy(h.begin(), h.end(), f.begin() + 70);
       },
       UploadFault::HeaderBlock, 0, 70},
      {"header byte 2 not zero",
       [](Bytes& f) {
         const Bytes h = header_frame({0, 3, 1, 0});
         std::copy(h.begin(), h.end(), f.begin() + 70);
       },
       UploadFault::HeaderBlock, 0, 70},
      {"header announces 129 blocks",
       [](Bytes& f) {
         const Bytes h = header_frame({0, 129, 0, 0});
         std::copy(h.begin(), h.end(), f.begin() + 70);
       },
       UploadFault::HeaderBlock, 0, 70},
      {"blocks 1 and 2 swapped",
       [](Bytes& f) {
         std::swap_ranges(f.begin() + block1, f.begin() + block2, f.begin() + block2);
       },
       UploadFault::BlockNumber, 1, block1},
      {"last block missing", [](Bytes& f) { f.resize(block3); }, UploadFault::BlockCount, 3,
       block3},
      {"a fourth block the header does not announce",
       [](Bytes& f) {
         const Bytes extra = data_frame(4);
         f.insert(f.end(), extra.begin(), extra.end());
       },
       UploadFault::BlockCount, 4, 555},
      {"file cut inside a frame", [](Bytes& f) { f.resize(block3 + 100); }, UploadFault::FileLength,
       3, block3 + 100},
      {"file cut inside the gap", [](Bytes& f) { f.resize(50); }, UploadFault::FileLength, -1, 50},
      {"empty file", [](Bytes& f) { f.clear(); }, UploadFault::FileLength, -1, 0},
      {"stray bytes after the last block",
       [](Bytes& f) {
         f.insert(f.end(), {0x00, 0x00});
       },
       UploadFault::TrailingBytes, 4, 555},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes file = good;
    row.damage(file);
    std::array<std::uint8_t, IMAGE_SIZE> content{};
    const UploadCheck check = decode_upload(file, content);
    EXPECT_EQ(check.fault, row.fault) << static_cast<int>(check.fault);
    EXPECT_EQ(check.frame, row.frame);
    EXPECT_EQ(check.offset, row.offset);
  }
}

TEST(BlockMap, ClassifiesEachKindOfBlock) {
  // A block of `used` data bytes (0x41) followed by the filler text, then 0x00 where it ends.
  const auto with_filler = [](std::size_t used) {
    Bytes block(128, 0x41);
    for (std::size_t k = 0; used + k < 128; ++k)
      block[used + k] = k < FILLER.size() ? static_cast<std::uint8_t>(FILLER[k]) : 0;
    return block;
  };
  Bytes zeros(128, 0);
  Bytes one_set = zeros;
  one_set[127] = 1;
  Bytes filler_changed = with_filler(10);
  filler_changed[127] ^= 1;
  struct Row {
    const char* name;
    Bytes block;
    bool last;
    Bytes firmware;
    BlockMark mark;
  };
  const std::vector<Row> rows = {
      {"all zero", zeros, false, {}, BlockMark::Zero},
      {"one byte set", one_set, false, {}, BlockMark::Data},
      {"all zero, last", zeros, true, {}, BlockMark::Zero},
      {"data then filler, last", with_filler(10), true, {}, BlockMark::Filler},
      {"one byte then filler and 0x00, last", with_filler(1), true, {}, BlockMark::Filler},
      {"127 bytes then one filler byte, last", with_filler(127), true, {}, BlockMark::Filler},
      {"data then filler, not last", with_filler(10), false, {}, BlockMark::Data},
      {"filler from the first byte, last", with_filler(0), true, {}, BlockMark::Data},
      {"filler with one byte changed, last", filler_changed, true, {}, BlockMark::Data},
      {"same as the firmware", one_set, false, one_set, BlockMark::Data},
      {"first byte differs", one_set, false, Bytes{9}, BlockMark::Differs},
      {"last firmware byte differs", one_set, false, Bytes(128, 0), BlockMark::Differs},
      {"differs only past the firmware", with_filler(10), true, Bytes(10, 0x41), BlockMark::Filler},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(classify_block(row.block, row.last, row.firmware), row.mark);
  }
}

}  // namespace
}  // namespace ferrolet
