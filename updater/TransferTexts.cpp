#include "updater/TransferTexts.h"

#include <cwchar>

#include "foundation/TextTranslator.h"

namespace quilmer {

void SpeedMeter::Update(std::uint32_t elapsedMs, std::uint64_t totalBytes) {
    accumulatedMs_ += elapsedMs;
    if (accumulatedMs_ < 1000) return;
    double gained = totalBytes >= previousTotal_ ? static_cast<double>(totalBytes - previousTotal_) : 0.0;
    rate_ = gained * 1000.0 / static_cast<double>(accumulatedMs_);
    previousTotal_ = totalBytes;
    accumulatedMs_ -= 1000;
}

std::wstring FormatSizeText(std::uint64_t n) {
    wchar_t text[64];
    if (n < 1024) {
        std::swprintf(text, 64, L"%llu bytes", static_cast<unsigned long long>(n));
        return text;
    }
    static const wchar_t* units[] = {L"KB", L"MB", L"GB", L"TB", L"PB", L"EB"};
    int unit = 0;
    while (unit < 5 && n >= (1ULL << (10 * (unit + 2)))) ++unit;
    float value = static_cast<float>(n) / static_cast<float>(1ULL << (10 * (unit + 1)));
    std::swprintf(text, 64, L"%.2f %ls", static_cast<double>(value), units[unit]);
    return text;
}

std::wstring FormatSpeedText(double r) {
    wchar_t text[64];
    if (r >= 1048576.0)
        std::swprintf(text, 64, L"%.2f MB/S", r / 1048576.0);
    else if (r >= 1024.0)
        std::swprintf(text, 64, L"%.2f KB/S", r / 1024.0);
    else
        std::swprintf(text, 64, L"%.0f bytes/S", r);
    return text;
}

unsigned ProgressPercent(std::uint64_t downloaded, std::uint64_t total) {
    if (downloaded == 0 || total == 0) return 0;
    return static_cast<unsigned>(static_cast<double>(downloaded) * 100.0 / static_cast<double>(total));
}

std::wstring StatusLineText(std::uint64_t downloaded, std::uint64_t total, const std::wstring& speedText) {
    wchar_t text[96];
    std::swprintf(text, 96, L"%llu/%lluB  %u", static_cast<unsigned long long>(downloaded),
                  static_cast<unsigned long long>(total), ProgressPercent(downloaded, total));
    return std::wstring(text) + L"%" + std::wstring(38, L' ') + speedText;
}

std::wstring FailureAdvice(StepOutcome outcome) {
    switch (outcome) {
        case StepOutcome::RetryLater:
            return Tr(L"The update server cannot be reached. The updater tries again by itself: check the "
                      L"Internet connection, or press Cancel to stop. What was downloaded is kept.");
        case StepOutcome::Failed:
            return Tr(L"Nothing was changed. Press Cancel and try the update again later.");
        case StepOutcome::NotVerified:
            return Tr(L"Nothing was installed and Quilmer was not changed. Press Cancel and try again "
                      L"later, or get Quilmer from its web site.");
        case StepOutcome::InstallFailed:
            return Tr(L"The new files could not be written into the program folder (it may be read-only, "
                      L"or the disk full). Quilmer was started again unchanged. Press Cancel and ask the "
                      L"computer's administrator to install the update.");
        case StepOutcome::Paused:
        case StepOutcome::Installed:
            break;
    }
    return {};
}

}  // namespace quilmer
