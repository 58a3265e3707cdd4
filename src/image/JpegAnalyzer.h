// Checks the marker structure of a JPEG file (SOI up to the first scan header)
// before the file is handed to the codec. No picture data is decoded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace image {

// Errors of the analysis; they never leave `JpegAnalyzer::analyse`.
class EJpegError {
 public:
  explicit EJpegError(std::string text) : text_(std::move(text)) {}
  virtual ~EJpegError() = default;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};
class EBufferError : public EJpegError { using EJpegError::EJpegError; };
class EDataFormatError : public EJpegError { using EJpegError::EJpegError; };
class EIndexError : public EJpegError { using EJpegError::EJpegError; };
class ENotSupported : public EJpegError { using EJpegError::EJpegError; };
class EMemoryError : public EJpegError { using EJpegError::EJpegError; };

// A cursor over bytes held in memory; every read is checked against the end.
class JpegByteReader {
 public:
  JpegByteReader(const uint8_t* data, size_t length)
      : begin_(data), cursor_(data), end_(data + length), available_(length > 0) {}

  uint8_t GetByte();
  unsigned GetWord();
  void CopyByte(void* target, size_t n);
  void SkipByte(size_t n);

  bool available() const { return available_; }
  size_t position() const { return static_cast<size_t>(cursor_ - begin_); }
  size_t remaining() const { return static_cast<size_t>(end_ - cursor_); }

 private:
  void advance(size_t n) {
    cursor_ += n;
    available_ = cursor_ < end_;
  }
  const uint8_t* begin_;
  const uint8_t* cursor_;
  const uint8_t* end_;
  bool available_;
};

// Bits of `JpegAnalyzer::flags`.
enum : unsigned {
  kJpegSeenDht = 1, kJpegSeenDqt = 2, kJpegSeenJfif = 4, kJpegSeenComment = 8, kJpegSeenScan = 16,
};

struct JpegFrameComponent {
  uint8_t identifier = 0;
  uint8_t horizontal = 0;  // sampling factors
  uint8_t vertical = 0;
  uint8_t quantTable = 0;
};

struct JpegFrameHeader {
  uint8_t precision = 0;
  unsigned lines = 0;
  unsigned samplesPerLine = 0;
  uint8_t componentCount = 0;
  JpegFrameComponent components[3];
  uint8_t maxHorizontal = 0;
  uint8_t maxVertical = 0;
};

struct JpegScanComponent {
  uint8_t selector = 0;
  uint8_t dcTable = 0;
  uint8_t acTable = 0;
};

struct JpegScanHeader {
  uint8_t componentCount = 0;
  JpegScanComponent components[3];
  uint8_t ss = 0, se = 0, ah = 0, al = 0;
};

struct JpegHuffmanTable {
  bool defined = false;
  std::vector<uint8_t> codeLengths;  // one per code, ascending
  std::vector<uint16_t> sequence;    // 0 … n-1
  std::vector<uint8_t> values;
  size_t codeCount() const { return values.size(); }
};

struct JpegJfif {
  uint8_t versionMajor = 0, versionMinor = 0, units = 0;
  unsigned xDensity = 0, yDensity = 0;
  uint8_t thumbWidth = 0, thumbHeight = 0;
  bool extension = false;  // a JFXX segment was seen
  uint8_t extensionCode = 0;
};

class JpegAnalyzer {
 public:
  // Returns 0 (ended normally, also for an unsupported frame type), -1 (out of
  // memory) or -2 (malformed data). Errors are noted as "SYSTEM_ERROR:  00nn"
  // (image::noteFailure), never shown.
  int analyse(const uint8_t* data, size_t length);

  unsigned flags = 0;
  JpegFrameHeader frame;
  JpegScanHeader scan;
  bool quantDefined[4] = {};
  uint16_t quantTables[4][64] = {};  // natural order
  JpegHuffmanTable huffman[2][4];    // [class][number]
  unsigned restartInterval = 0;
  JpegJfif jfif;
  std::string comment;

 private:
  int segmentPhase(JpegByteReader& in);
  unsigned segmentLength(JpegByteReader& in);
  void readFrame(JpegByteReader& in);
  void readHuffman(JpegByteReader& in);
  void readQuant(JpegByteReader& in);
  void readScan(JpegByteReader& in);
  void readApp0(JpegByteReader& in);
  void readComment(JpegByteReader& in);
  void reset();
};

// Finds the next marker code (see the .cpp); bytes between segments are skipped.
unsigned nextJpegMarker(JpegByteReader& in);

// Reads the file whole and analyses it. Returns the file's size when it is
// accepted, 0 when it cannot be read, is too large or is rejected.
int32_t validateJpegFile(const char* path);

// Natural position of the k-th coefficient in zig-zag order.
extern const uint8_t kJpegZigzag[64];

}  // namespace image
