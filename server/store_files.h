// What every store does alike: picture files, error texts, ranking columns.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "server/store.h"

namespace qvserver {

// A full disk is named as such, with the folder it holds, so the operator knows where to look.
std::string Explain(const std::string& what, const std::string& message, const std::string& folder);

// The votes' column a ranking orders by; empty for the newest-first list.
const char* SortColumn(SortKey sort);

// "<32 hex digits>.png", random.
std::string RandomPictureName();
bool IsStoredPictureName(std::string_view name);

// Deletes files older than an hour in folder that are no picture the store knows (known says),
// left by a crash before their row was committed or half written. Returns how many went.
size_t SweepStrayPictures(const std::string& folder, const std::function<bool(const std::string&)>& known);

}  // namespace qvserver
