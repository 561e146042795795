#pragma once
// Where the maker's companion download program may be installed on Linux. Looked at in this order:
//   1. the settings "Companion"/"AppPath" + "/" + "Companion"/"AppName" (written by the
//      companion's installer, the counterpart of its registration on the original platform);
//   2. for each of the maker's product names N (kCompanionNames): the program folder's N, then
//      ~/.local/bin/N, /usr/local/bin/N, /opt/corvane/N/N and /usr/bin/N.
// The first regular, executable file wins. Nothing found: empty (the caller opens the download site).

#include "foundation/Settings.h"

#include <functional>
#include <string>
#include <vector>

namespace quilmer {

inline const std::vector<std::wstring> kCompanionNames = {L"corvane-video-downloader", L"corvane-downloader"};

std::vector<std::wstring> CompanionCandidates(const SettingsStore& store, const std::wstring& programFolder,
                                              const std::wstring& homeFolder);

// isExecutable decides for each candidate (the real one asks the file system).
std::wstring FindCompanionDownloader(const SettingsStore& store, const std::wstring& programFolder,
                                     const std::wstring& homeFolder,
                                     const std::function<bool(const std::wstring&)>& isExecutable);
// The program's own settings and folders, and the file system.
std::wstring FindCompanionDownloader();

}  // namespace quilmer
