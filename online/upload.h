// Score upload: the checks, the confirmation text, the temporary base name, the multipart body
// of one post, and the submission itself (picture, record, two posts, clean-up).
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "core/gate.h"
#include "text/server_contract.h"

namespace online {

inline constexpr const char* kUploadDone = "  Score upload done !  ";
inline constexpr const char* kUploadPath = contract::kUploadPath;
inline constexpr const char* kUploadUserAgent = "Mozilla (Windows) Gecko Firefox";
inline constexpr const char* kUploadAccept = "text/html, */*";
inline constexpr const char* kPartContentType = "multipart/form-data";
// The program sets no limits on the posts; these keep a dead server from hanging the window.
inline constexpr long kPostConnectLimitMs = 15000;
inline constexpr long kPostReadLimitMs = 30000;

// The seven lines of the confirmation dialog joined by CR LF.
std::string UploadConfirmationText(const std::string& applicationTitle);

// folder + "/" + "ddmmyyhhnnss_" + a number 0..998 + ".tmp", where neither the name nor the name
// with ".png" exists yet. folder defaults to the program's private folder; empty (with error)
// when that cannot be made.
std::string MakeTempBaseName(std::string* error = nullptr, const std::string& folder = std::string());

// "--------" + "mmddyyhhnnsszzz" of the given local time and milliseconds.
std::string MultipartBoundary(const std::tm& local, int milliseconds);
std::string MultipartBoundaryNow();

// The whole body of one post: part head, the file's bytes, CR LF, closing line.
std::string MultipartBody(const std::string& boundary, const std::string& path, const std::string& fileBytes);

struct PostResult {
  bool ok = false;     // answered with a success status
  long status = 0;     // the server's status, 0 when there was no answer
  std::string error;   // why it failed, for the user
  std::string answer;  // the server's one-line answer
};

// One multipart POST of the file at path to the program's web server.
PostResult PostResultFile(const std::string& path);

// The steps of a submission after the user has agreed; each may be replaced (tests, terminal).
struct SubmissionSteps {
  std::function<std::string(std::string* error)> makeBaseName;  // default MakeTempBaseName
  std::function<bool(const std::string& path, std::string* error)> saveWindowShot;  // required
  std::function<bool(const std::string& path, std::string* error)> writeRecord;     // required
  std::function<PostResult(const std::string& path)> postFile;                      // default PostResultFile
};

struct SubmissionOutcome {
  bool done = false;  // both posts were answered with success: set the mark
  std::string message;
  std::string resultAddress;  // the stored result's page, when the server named it
};

// The page of the result that the server's answer to a record post names ("OK result 12 stored
// ..." gives base + "/result/12"); empty when the answer names none.
std::string ResultAddress(const std::string& base, const std::string& answer);

// Picture, first post, record, second post, deletions. The temporary files are gone afterwards
// whatever happened.
SubmissionOutcome SubmitScore(const SubmissionSteps& steps);

// How the upload talks to the user: the OK/Cancel confirmation (true for OK) and the one message
// at the end (title core::kTitles.upload; information icon, a warning when the upload failed).
struct UploadDialogs {
  std::function<bool(const std::string& text)> confirm;  // empty: the caller has consented already
  std::function<void(const std::string& text, bool failed)> inform;
};

// The whole submission of uploadClick except the button: the gate (core::ShareStop), the
// confirmation naming applicationTitle (the window's, with " [New version available]" when the
// check found one), SubmitScore, the closing message. True when the upload mark is to be set; resultAddress
// (when given) then holds the stored result's page, or is empty when the server named none.
bool RunUpload(const core::ShareFacts& facts, const std::string& applicationTitle,
               const UploadDialogs& dialogs, const SubmissionSteps& steps,
               std::string* resultAddress = nullptr);

}  // namespace online
