// The MIME fuzz targets as plain functions, so that the fuzzers and the
// native replay test run the same code on the same inputs.
#pragma once
#include <cstddef>
#include <cstdint>

namespace mimefuzz {

// parseMail, bodyCharset, then the preview: body decoding and attachment list.
void parseAndShow(const uint8_t* data, size_t size);
// An arbitrary index record (the first 1572 bytes) over the rest as the log.
void showRecord(const uint8_t* data, size_t size);
// base64Decode, base64DecodeInPlace, quotedPrintableDecode, decodeTransfer.
void decoders(const uint8_t* data, size_t size);
// The fast decoders and JIS conversion against plain reference ones: the
// same results.
void decoderDifference(const uint8_t* data, size_t size);
// lookupCharset, jisToShiftJis (mode carried over two calls),
// jisBodyToShiftJis, utf8ToShiftJis, decodeEncodedWords.
void charsets(const uint8_t* data, size_t size);

struct Target {
  const char* name;  // also the name of the fuzzer and of its corpus folder
  void (*run)(const uint8_t* data, size_t size);
};
extern const Target kTargets[5];

}  // namespace mimefuzz
