#include "online/upload.h"

#include <chrono>
#include <random>
#include <string_view>

#include "core/score.h"
#include "online/http_client.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "sysinfo/text.h"

namespace online {

namespace {

std::tm LocalNow(int* milliseconds) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  if (milliseconds) {
    *milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  }
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

// value as exactly `width` decimal digits (fields of a date stay in range; the modulo guards the width).
std::string Digits(int value, int width) {
  std::string text(static_cast<size_t>(width), '0');
  unsigned v = static_cast<unsigned>(value < 0 ? -value : value);
  for (int i = width - 1; i >= 0; --i, v /= 10)
    text[static_cast<size_t>(i)] = static_cast<char>('0' + v % 10);
  return text;
}

// The first line of a server's answer, for a message: printable ASCII only, at most 160 bytes.
std::string AnswerLine(const std::string& body) {
  std::string line;
  for (char c : text::Trim(body)) {
    if (c == '\r' || c == '\n' || line.size() >= 160) break;
    line += (c >= 32 && c < 127) ? c : '?';
  }
  return line;
}

}  // namespace

std::string UploadConfirmationText(const std::string& applicationTitle) {
  return " Welcome to \" " + text::Trim(applicationTitle) + " \" score *submit.\r\n" +
         " To submit your score to our server, click [OK] button.\r\n" + "\r\n" +
         "  * Please note that by clicking [OK] button,\r\n" +
         "     information's about your current system\r\n" +
         "     configuration will be uploaded and stored\r\n" + "     on our server.";
}

std::string MakeTempBaseName(std::string* error, const std::string& folder) {
  std::string base = folder.empty() ? platform::PrivateFolder(error) : folder;
  if (base.empty()) return {};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::tm t = LocalNow(nullptr);
    const std::string stamp = Digits(t.tm_mday, 2) + Digits(t.tm_mon + 1, 2) + Digits(t.tm_year % 100, 2) +
                              Digits(t.tm_hour, 2) + Digits(t.tm_min, 2) + Digits(t.tm_sec, 2) + "_";
    // Seeded from the clock for every name, as the name's only promise is to differ from the last.
    std::mt19937 generator(
        static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    const int number = std::uniform_int_distribution<int>(0, 998)(generator);
    const std::string name = base + "/" + stamp + std::to_string(number) + ".tmp";
    if (!platform::FileExists(name) && !platform::FileExists(name + ".png")) return name;
  }
  if (error) *error = "no free name for the upload files in " + base;
  return {};
}

std::string MultipartBoundary(const std::tm& t, int milliseconds) {
  return "--------" + Digits(t.tm_mon + 1, 2) + Digits(t.tm_mday, 2) + Digits(t.tm_year % 100, 2) +
         Digits(t.tm_hour, 2) + Digits(t.tm_min, 2) + Digits(t.tm_sec, 2) + Digits(milliseconds % 1000, 3);
}

std::string MultipartBoundaryNow() {
  int ms = 0;
  const std::tm t = LocalNow(&ms);
  return MultipartBoundary(t, ms);
}

std::string MultipartBody(const std::string& boundary, const std::string& path,
                          const std::string& fileBytes) {
  std::string body;
  body.reserve(fileBytes.size() + 256 + path.size());
  body += "--" + boundary + "\r\n";
  body += "Content-Disposition: form-data; name=\"file\"; filename=\"" + path + "\"\r\n";
  body += std::string("Content-Type: ") + kPartContentType + "\r\n";
  body += "Content-Transfer-Encoding: binary\r\n\r\n";
  body += fileBytes;
  body += "\r\n";
  body += "--" + boundary + "--\r\n";
  return body;
}

PostResult PostResultFile(const std::string& path) {
  PostResult result;
  std::string bytes;
  std::string error;
  if (!platform::ReadWholeFile(path, &bytes, &error)) {
    result.error = "the file " + path + " could not be read (" + error + ")";
    return result;
  }
  const std::string boundary = MultipartBoundaryNow();
  HttpOptions options;
  options.userAgent = kUploadUserAgent;
  options.accept = kUploadAccept;
  options.headers = {"Content-Type: multipart/form-data; boundary=" + boundary};
  options.connectTimeoutMs = kPostConnectLimitMs;
  options.readTimeoutMs = kPostReadLimitMs;
  // The part's file name is the full local path, sent as it stands.
  const HttpResponse response =
      HttpPost(JoinUrl(ServerBase(), kUploadPath), MultipartBody(boundary, path, bytes), options);
  result.status = response.completed ? response.status : 0;
  result.ok = response.Succeeded();
  if (response.completed) result.answer = AnswerLine(response.body);
  if (!result.ok) {
    if (response.completed) {
      const std::string answer = AnswerLine(response.body);
      result.error = "the server answered with status " + std::to_string(response.status) +
                     (answer.empty() ? "" : " (" + answer + ")");
    } else {
      result.error = response.error;
    }
  }
  return result;
}

SubmissionOutcome SubmitScore(const SubmissionSteps& steps) {
  SubmissionOutcome outcome;
  auto failed = [&](const std::string& why) {
    outcome.done = false;
    outcome.message = " Score upload failed ! \n\n" + why + "\n\n You can try the upload again. ";
    return outcome;
  };

  std::string error;
  const std::string base = steps.makeBaseName ? steps.makeBaseName(&error) : MakeTempBaseName(&error);
  if (base.empty()) return failed(" The upload files could not be named: " + error + " ");
  const std::string picture = base + ".png";
  auto post = [&](const std::string& path) {
    return steps.postFile ? steps.postFile(path) : PostResultFile(path);
  };
  // Both files go, whichever way this ends.
  struct Cleanup {
    const std::string& a;
    const std::string& b;
    ~Cleanup() {
      platform::DeleteFile(a);
      platform::DeleteFile(b);
    }
  } cleanup{picture, base};

  if (!steps.saveWindowShot || !steps.writeRecord)
    return failed(" The upload is not set up in this program. ");
  if (!steps.saveWindowShot(picture, &error)) return failed(" The picture could not be made: " + error + " ");
  const PostResult first = post(picture);
  if (!steps.writeRecord(base, &error))
    return failed(" The result record could not be written: " + error + " ");
  const PostResult second = post(base);

  if (first.ok && second.ok) {
    outcome.done = true;
    outcome.message = kUploadDone;
    outcome.resultAddress = ResultAddress(ServerBase(), second.answer);
    return outcome;
  }
  if (!first.ok && !second.ok && first.error == second.error)
    return failed(" Nothing was sent: " + first.error + " ");
  std::string why;
  if (!first.ok) why += " The picture was not sent: " + first.error + " ";
  if (!second.ok)
    why += std::string(why.empty() ? "" : "\n") + " The result record was not sent: " + second.error + " ";
  return failed(why);
}

std::string ResultAddress(const std::string& base, const std::string& answer) {
  constexpr std::string_view kHead = "OK result ";
  if (answer.compare(0, kHead.size(), kHead) != 0) return {};
  size_t end = kHead.size();
  while (end < answer.size() && end < kHead.size() + 18 && answer[end] >= '0' && answer[end] <= '9') ++end;
  if (end == kHead.size() || (end < answer.size() && answer[end] != ' ')) return {};
  return JoinUrl(base, contract::kResultPagePrefix + answer.substr(kHead.size(), end - kHead.size()));
}

bool RunUpload(const core::ShareFacts& facts, const std::string& applicationTitle,
               const UploadDialogs& dialogs, const SubmissionSteps& steps, std::string* resultAddress) {
  if (resultAddress) resultAddress->clear();
  auto inform = [&](const std::string& text, bool failed) {
    if (dialogs.inform) dialogs.inform(text, failed);
  };
  const std::string stop = core::ShareStop(core::Share::Upload, facts);
  if (!stop.empty()) {
    inform(stop, false);
    return false;
  }
  if (dialogs.confirm && !dialogs.confirm(UploadConfirmationText(applicationTitle))) return false;
  const SubmissionOutcome outcome = SubmitScore(steps);
  if (resultAddress && outcome.done) *resultAddress = outcome.resultAddress;
  inform(outcome.message, !outcome.done);
  return outcome.done;
}

}  // namespace online
