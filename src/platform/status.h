// How a file operation or a command ended: ok, or the system's error number
// and the file it concerned. Failures travel as values; what to print is the
// caller's.
#pragma once

#include <string>
#include <utility>

namespace vorcnt {

// The system's text for an error number, in English whatever the user's
// language: it sits inside lines of code page 932, which the system's own
// translation (in the locale's encoding) would garble. One backend per
// platform.
const char* error_text(int error);

class [[nodiscard]] Status {
 public:
  Status() = default;  // ok
  static Status failed(int error, std::string subject) { return failed(error, std::move(subject), std::string()); }
  // A failure told in our own words ("not a regular file"), or in the
  // platform's own where no error number says it as well.
  static Status failed(int error, std::string subject, std::string reason) {
    Status s;
    s.error_ = error != 0 ? error : kUnknownError;
    s.subject_ = std::move(subject);
    s.reason_ = std::move(reason);
    return s;
  }
  bool ok() const { return error_ == 0; }
  int error() const { return error_; }
  // The file or folder the failure concerned.
  const std::string& subject() const { return subject_; }
  // The words given to failed(), else the system's text for the error
  // ("No space left on device").
  std::string reason() const;

 private:
  // For a failure the system gave no number for.
  static constexpr int kUnknownError = -1;
  int error_ = 0;
  std::string subject_;
  std::string reason_;
};

}  // namespace vorcnt
