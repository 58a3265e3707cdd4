#include "image/JpegAnalyzer.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/File.h"
#include "image/ImageFailure.h"

namespace image {

const uint8_t kJpegZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

enum : unsigned {
  kSof0 = 0xC0, kDht = 0xC4, kDac = 0xCC, kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kDqt = 0xDB,
  kDnl = 0xDC, kDri = 0xDD, kDhp = 0xDE, kExp = 0xDF, kApp0 = 0xE0, kApp15 = 0xEF, kCom = 0xFE,
};

std::string withNumber(const char* text, long long n) { return std::string(text) + " " + std::to_string(n); }

void showSystemError(const char* code) {
  noteFailure((std::string("SYSTEM_ERROR:  ") + code).c_str());
}

bool isUnsupportedFrame(unsigned m) {
  return (m >= 0xC1 && m <= 0xC3) || (m >= 0xC5 && m <= 0xC7) || (m >= 0xC9 && m <= 0xCF) ||
         m == kDhp || m == kExp;
}

}  // namespace

uint8_t JpegByteReader::GetByte() {
  if (!available_) throw EBufferError("GetByte");
  uint8_t b = *cursor_;
  advance(1);
  return b;
}

unsigned JpegByteReader::GetWord() {
  if (remaining() < 2) throw EBufferError("GetWord");
  unsigned w = (static_cast<unsigned>(cursor_[0]) << 8) | cursor_[1];
  advance(2);
  return w;
}

void JpegByteReader::CopyByte(void* target, size_t n) {
  if (n > remaining()) throw EBufferError("CopyByte");
  if (n) std::memcpy(target, cursor_, n);
  advance(n);
}

void JpegByteReader::SkipByte(size_t n) {
  if (n > remaining()) throw EBufferError("SkipByte");
  advance(n);
}

// 0xFF followed by 0x00 is a stuffed byte; 0x03…0xBF after 0xFF is no marker
// and gives 0xFF; anything else is the marker code (a second 0xFF included).
unsigned nextJpegMarker(JpegByteReader& in) {
  for (;;) {
    while (in.GetByte() != 0xFF) {
    }
    unsigned b = in.GetByte();
    if (b == 0x00) continue;
    if (b >= 0x03 && b <= 0xBF) return 0xFF;
    return b;
  }
}

void JpegAnalyzer::reset() {
  flags = 0;
  frame = JpegFrameHeader();
  scan = JpegScanHeader();
  std::memset(quantDefined, 0, sizeof quantDefined);
  std::memset(quantTables, 0, sizeof quantTables);
  for (auto& cls : huffman)
    for (auto& t : cls) t = JpegHuffmanTable();
  restartInterval = 0;
  jfif = JpegJfif();
  comment.clear();
}

int JpegAnalyzer::analyse(const uint8_t* data, size_t length) {
  reset();
  JpegByteReader in(data, data ? length : 0);
  try {
    while (nextJpegMarker(in) != kSoi) {
    }
    return segmentPhase(in);
  } catch (const EMemoryError&) {
    showSystemError("0011");
    return -1;
  } catch (const std::bad_alloc&) {
    showSystemError("0011");
    return -1;
  } catch (const EIndexError&) {
    showSystemError("0012");
    return -2;
  } catch (const EBufferError&) {
    showSystemError("0013");
    return -2;
  } catch (const EDataFormatError&) {
    showSystemError("0014");
    return -2;
  } catch (const ENotSupported&) {
    return 0;
  }
}

int JpegAnalyzer::segmentPhase(JpegByteReader& in) {
  while (!(flags & kJpegSeenScan)) {
    unsigned marker = nextJpegMarker(in);
    size_t markerOffset = in.position() - 1;
    if (marker == kSof0) {
      readFrame(in);
    } else if (isUnsupportedFrame(marker)) {
      throw ENotSupported(withNumber("marker", marker) + withNumber(" at", markerOffset));
    } else if (marker == kDht) {
      readHuffman(in);
      flags |= kJpegSeenDht;
    } else if (marker == kDqt) {
      readQuant(in);
      flags |= kJpegSeenDqt;
    } else if (marker == kDnl) {
      segmentLength(in);
      frame.lines = in.GetWord();
    } else if (marker == kDri) {
      segmentLength(in);
      restartInterval = in.GetWord();
    } else if (marker == kSos) {
      readScan(in);
      flags |= kJpegSeenScan;
    } else if (marker == kEoi) {
      break;
    } else if (marker == kApp0) {
      readApp0(in);
    } else if (marker > kApp0 && marker <= kApp15) {
      in.SkipByte(segmentLength(in) - 2);
    } else if (marker == kCom) {
      readComment(in);
      flags |= kJpegSeenComment;
    } else {
      throw EDataFormatError(withNumber("Marker error at", static_cast<long long>(markerOffset)));
    }
  }
  return 0;
}

// The length word of a segment; it counts itself, so less than 2 is malformed.
unsigned JpegAnalyzer::segmentLength(JpegByteReader& in) {
  unsigned length = in.GetWord();
  if (length < 2) throw EDataFormatError(withNumber("Segment length", length));
  return length;
}

void JpegAnalyzer::readFrame(JpegByteReader& in) {
  segmentLength(in);
  frame.precision = in.GetByte();
  frame.lines = in.GetWord();
  frame.samplesPerLine = in.GetWord();
  const uint8_t count = in.GetByte();
  if (count != 1 && count != 3) throw ENotSupported(withNumber("components", count) + withNumber(" marker", kSof0));
  frame.componentCount = count;
  for (int i = 0; i < count; ++i) {
    JpegFrameComponent& c = frame.components[i];
    c.identifier = in.GetByte();
    uint8_t hv = in.GetByte();
    c.horizontal = hv >> 4;
    c.vertical = hv & 0x0F;
    c.quantTable = in.GetByte();
    if (c.horizontal > frame.maxHorizontal) frame.maxHorizontal = c.horizontal;
    if (c.vertical > frame.maxVertical) frame.maxVertical = c.vertical;
  }
}

void JpegAnalyzer::readHuffman(JpegByteReader& in) {
  unsigned length = segmentLength(in);
  size_t end = in.position() + (length - 2);
  while (in.position() < end) {
    uint8_t tcth = in.GetByte();
    unsigned tc = tcth >> 4, th = tcth & 0x0F;
    if (tc > 1) throw EDataFormatError("AnalysisDHT:Tc");
    if (th > 3) throw EDataFormatError("AnalysisDHT:Th");
    uint8_t counts[16];
    in.CopyByte(counts, 16);
    size_t n = 0;
    for (uint8_t c : counts) n += c;
    JpegHuffmanTable& t = huffman[tc][th];
    t = JpegHuffmanTable();
    const char* what = "AnalysisDHT:Huffman Size-T";
    try {
      t.codeLengths.reserve(n);
      what = "AnalysisDHT:Huffman Code-T";
      t.sequence.resize(n);
      what = "AnalysisDHT:Huffman Value-T";
      t.values.resize(n);
    } catch (const std::bad_alloc&) {
      throw EMemoryError(withNumber(what, static_cast<long long>(n)));
    }
    for (int k = 0; k < 16; ++k) t.codeLengths.insert(t.codeLengths.end(), counts[k], static_cast<uint8_t>(k + 1));
    for (size_t i = 0; i < n; ++i) t.sequence[i] = static_cast<uint16_t>(i);
    in.CopyByte(t.values.data(), n);
    t.defined = true;
  }
}

void JpegAnalyzer::readQuant(JpegByteReader& in) {
  unsigned length = segmentLength(in);
  size_t end = in.position() + (length - 2);
  while (in.position() < end) {
    uint8_t pq = in.GetByte();
    unsigned table = pq & 3;
    bool words = (pq >> 4) != 0;
    for (int k = 0; k < 64; ++k)
      quantTables[table][kJpegZigzag[k]] = static_cast<uint16_t>(words ? in.GetWord() : in.GetByte());
    quantDefined[table] = true;
  }
}

void JpegAnalyzer::readScan(JpegByteReader& in) {
  segmentLength(in);
  const uint8_t count = in.GetByte();
  // The record holds three components, the most a baseline frame here has.
  if (count > 3) throw EIndexError(withNumber("AnalysisScan:Ns Over 3", count));
  scan.componentCount = count;
  for (int i = 0; i < count; ++i) {
    JpegScanComponent& c = scan.components[i];
    c.selector = in.GetByte();
    uint8_t tdta = in.GetByte();
    c.dcTable = tdta >> 4;
    c.acTable = tdta & 0x0F;
    if (c.dcTable > 2) throw EIndexError(withNumber("AnalysisScan:Td Over 2", c.dcTable));
    if (c.acTable > 2) throw EIndexError(withNumber("AnalysisScan:Ta Over 2", c.acTable));
  }
  scan.ss = in.GetByte();
  scan.se = in.GetByte();
  uint8_t ahal = in.GetByte();
  scan.ah = ahal >> 4;
  scan.al = ahal & 0x0F;
}

void JpegAnalyzer::readApp0(JpegByteReader& in) {
  unsigned length = segmentLength(in);
  if (length - 2 < 5) {
    in.SkipByte(length - 2);
    return;
  }
  char id[5];
  in.CopyByte(id, 5);
  if (std::memcmp(id, "JFIF", 5) == 0) {
    // Fixed fields: identifier 5, version 2, units 1, densities 4, thumbnail size 2.
    if (length < 16) throw EDataFormatError(withNumber("JFIF length", length));
    jfif.versionMajor = in.GetByte();
    jfif.versionMinor = in.GetByte();
    jfif.units = in.GetByte();
    jfif.xDensity = in.GetWord();
    jfif.yDensity = in.GetWord();
    jfif.thumbWidth = in.GetByte();
    jfif.thumbHeight = in.GetByte();
    in.SkipByte(length - 16);
    flags |= kJpegSeenJfif;
  } else if (std::memcmp(id, "JFXX", 5) == 0) {
    if (length < 8) throw EDataFormatError(withNumber("JFXX length", length));
    jfif.extension = true;
    jfif.extensionCode = in.GetByte();
    in.SkipByte(length - 8);
  } else {
    in.SkipByte(length - 7);
  }
}

void JpegAnalyzer::readComment(JpegByteReader& in) {
  size_t n = segmentLength(in) - 2;
  std::string text(n, '\0');
  in.CopyByte(&text[0], n);
  comment = std::move(text);  // the string keeps its own NUL terminator
}

int32_t validateJpegFile(const char* path) {
  int64_t size = platform::fileSize(path);
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) return 0;
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
  if (!data) return 0;
  FILE* f = platform::openFile(path, "rb");
  if (!f) return 0;
  bool read = std::fread(data.get(), 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
  std::fclose(f);
  if (!read) return 0;
  JpegAnalyzer analyzer;
  int result = analyzer.analyse(data.get(), static_cast<size_t>(size));
  return result >= 0 && analyzer.flags != 0 ? static_cast<int32_t>(size) : 0;
}

}  // namespace image
