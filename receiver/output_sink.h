#pragma once
// Where decoded text and events go: a file or stream, or a string for tests.

#include <cstdio>
#include <string>
#include <string_view>

namespace dahlo {

// Where the output goes.
class OutputSink {
  public:
    virtual ~OutputSink() = default;
    virtual void Write(std::string_view bytes) = 0;
    virtual void Flush() = 0;
};

class FileSink : public OutputSink {
  public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    void Write(std::string_view bytes) override;
    void Flush() override;
    // False once a write has failed (a closed pipe, a full disk).
    bool Ok() const { return ok_; }

  private:
    std::FILE* file_;
    bool ok_ = true;
};

class StringSink : public OutputSink {
  public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    void Flush() override { ++flushes; }
    std::string text;
    int flushes = 0;
};

// Escapes `text` (UTF-8) for a JSON string.
std::string JsonEscape(std::string_view text);

}  // namespace dahlo
