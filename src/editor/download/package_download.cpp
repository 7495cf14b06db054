#include "tavo/editor_update.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "editor/download/delta_download.h"
#include "editor/download/download_decisions.h"
#include "editor/download/download_failure.h"
#include "editor/download/https_get.h"
#include "editor/download/stream_hash.h"
#include "editor/download/stream_to_disk.h"
#include "editor/handover/helper_launch.h"
#include "editor/handover/package_signer.h"
#include "verify/checksum.h"
#include "verify/version_compare.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace tavo {

namespace {

constexpr size_t HandOverBytes = 256 << 10;

// The offer's own faults, before anything is opened or fetched.
std::wstring CheckOffer(const PackageOffer& offer, const DownloadOptions& options) {
    const std::wstring url = CheckHttpsUrl(offer.Url);
    if (!url.empty()) {
        return L"URL: " + url;
    }
    if (offer.Size == 0 || offer.Size > PackageSizeLimitBytes) {
        return L"size: not 1 to 2147483648 bytes, what the helper takes";
    }
    if (!IsChecksumText(offer.Sha256)) {
        return L"SHA-256: not 64 hexadecimal digits";
    }
    if (!ParseVersion(offer.Version)) {
        return L"version: not 2 to 4 numbers of at most 65535";
    }
    for (const auto& [file, name] :
         {std::pair{&offer.Blocks, L"block index"}, {&offer.Pieces, L"compressed copy"}}) {
        if (!file->Url.empty() &&
            (!CheckHttpsUrl(file->Url).empty() || file->Size == 0 ||
             file->Size > PackageSizeLimitBytes || !IsChecksumText(file->Sha256))) {
            return std::wstring(name) + L": not an https:// URL with a size and SHA-256";
        }
    }
    const std::wstring badKey = CheckPublisherKeys(offer.PublisherKeys);
    if (!badKey.empty()) {
        return badKey;
    }
    const std::wstring stallLimit = CheckStallLimit(options.StallLimitMs);
    if (!stallLimit.empty()) {
        return stallLimit;
    }
    const DWORD attributes = GetFileAttributesW(options.Folder.c_str());
    if (!IsAbsolutePath(options.Folder) || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return L"download folder: not an existing folder's absolute path";
    }
    return std::wstring();
}

// Hashes the first `size` bytes of the file from its start; false when they
// cannot all be read.
bool HashFileStart(HANDLE file, std::uint64_t size, const StreamHash& hash,
                   std::vector<char>& buffer) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    for (std::uint64_t left = size; left > 0;) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
        if (!ReadFile(file, buffer.data(), want, &read, nullptr) || read == 0 ||
            !AddToHash(hash, buffer.data(), read)) {
            return false;
        }
        left -= read;
    }
    return true;
}

std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
               ? (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
               : 0;
}

// NotEnoughSpace when the folder's disk cannot take `needed` bytes more.
std::optional<PackageDownload> ShortOfSpace(const std::wstring& folder, std::uint64_t needed) {
    ULARGE_INTEGER freeBytes = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &freeBytes, nullptr, nullptr)) {
        return std::nullopt;
    }
    const std::wstring shortSpace = DescribeShortSpace(freeBytes.QuadPart, needed);
    return shortSpace.empty() ? std::nullopt
                              : std::optional(Fail(DownloadCode::NotEnoughSpace, shortSpace));
}

// The partial file's record: the offer it belongs to (its SHA-256 and size)
// on the first line, the server's validator on the second. Bytes of another
// offer, or fetched under no validator, are never resumed.
std::wstring RecordOf(const PackageOffer& offer) {
    std::wstring sha256 = offer.Sha256;
    for (wchar_t& digit : sha256) {
        digit = digit >= L'A' && digit <= L'F' ? static_cast<wchar_t>(digit + 32) : digit;
    }
    return sha256 + L" " + std::to_wstring(offer.Size) + L"\n";
}

// The validator the partial file was fetched under, when its record names
// this offer; empty otherwise.
std::wstring ReadValidator(const std::wstring& path, const PackageOffer& offer) {
    const UniqueHandle file = OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    std::wstring text(1024, L'\0');
    DWORD read = 0;
    if (file.get() == INVALID_HANDLE_VALUE ||
        !ReadFile(file.get(), text.data(), 2048, &read, nullptr)) {
        return std::wstring();
    }
    text.resize(read / sizeof(wchar_t));
    const std::wstring record = RecordOf(offer);
    return text.rfind(record, 0) == 0 ? text.substr(record.size()) : std::wstring();
}

bool WriteValidator(const std::wstring& path, const PackageOffer& offer,
                    const std::wstring& validator) {
    const UniqueHandle file =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::wstring text = RecordOf(offer) + validator;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    return file.get() != INVALID_HANDLE_VALUE &&
           WriteFile(file.get(), text.data(), size, &written, nullptr) && written == size;
}

// The publisher's signature over the file open at `file` (at `path`); empty
// when it holds.
std::wstring SignatureRefusal(HANDLE file, const std::wstring& path,
                              const std::vector<std::wstring>& keys) {
    if (keys.empty()) {
        return std::wstring();
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return SignerRefusal(ReadPackageSigner(file, path), keys);
}

struct Files {
    std::wstring Final, Partial, Validator;
};

// Read and written by this attempt alone; others may read it.
UniqueHandle OpenPartial(const std::wstring& path, DWORD disposition) {
    return OwnHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The partial file, read-only from here on and held so that nobody can write
// it: a signature verifier opens it again, which the writing handle's
// sharing would refuse. It must be the same file, unchanged since the last
// byte was written, so that the bytes hashed are those checked and handed
// over. A rename stays possible.
UniqueHandle ReopenForReading(UniqueHandle& partial, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION before = {}, after = {};
    const bool known = GetFileInformationByHandle(partial.get(), &before);
    partial.reset();
    UniqueHandle reading =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!known || reading.get() == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandle(reading.get(), &after) ||
        before.dwVolumeSerialNumber != after.dwVolumeSerialNumber ||
        before.nFileIndexHigh != after.nFileIndexHigh ||
        before.nFileIndexLow != after.nFileIndexLow ||
        before.nFileSizeHigh != after.nFileSizeHigh || before.nFileSizeLow != after.nFileSizeLow ||
        CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime) != 0) {
        return OwnHandle(INVALID_HANDLE_VALUE);
    }
    return reading;
}

// Removes what a check refused: bytes that are not the offer's file.
PackageDownload Discard(const Files& files, UniqueHandle& partial, DownloadCode code,
                        const std::wstring& detail) {
    partial.reset();
    DeleteFileW(files.Partial.c_str());
    DeleteFileW(files.Validator.c_str());
    return Fail(code, detail);
}

PackageDownload Downloaded(const PackageOffer& offer, const std::wstring& path) {
    PackageDownload result;
    result.Code = DownloadCode::Downloaded;
    result.Order.PackagePath = path;
    result.Order.PackageSha256 = offer.Sha256;
    result.Order.PackageKind = offer.Kind;
    result.Order.TargetVersion = offer.Version;
    result.Order.PublisherKeys = offer.PublisherKeys;
    return result;
}

// A file of an earlier attempt that is whole and right.
bool IsAlreadyThere(const PackageOffer& offer, const std::wstring& path,
                    std::vector<char>& buffer) {
    if (FileSize(path) != offer.Size) {
        return false;
    }
    StreamHash hash;
    const UniqueHandle file = OpenPackageFile(path);
    return file.get() != INVALID_HANDLE_VALUE && StartHash(hash) &&
           HashFileStart(file.get(), offer.Size, hash, buffer) &&
           EqualsIgnoringAsciiCase(FinishHash(hash), offer.Sha256) &&
           SignatureRefusal(file.get(), path, offer.PublisherKeys).empty();
}

// Receives the body from `offset` on, handing the disk a buffer at a time
// (when it is full, after a pause, and at the end, so that no byte received
// is lost to a stall or a stop); one read past the promised size catches a
// server that sends more. The failure, or nothing when all the bytes came.
std::optional<PackageDownload> ReceiveBody(HttpsGet& get, const PackageOffer& offer,
                                           const DownloadOptions& options, std::uint64_t offset,
                                           StreamToDisk& disk) {
    std::vector<char> filling;
    filling.reserve(HandOverBytes + ReadChunkBytes);
    const ULONGLONG started = GetTickCount64();
    ULONGLONG reported = 0, handed = started;
    std::uint64_t received = offset;
    for (bool ended = false; !ended;) {
        if (options.Stop.stop_requested()) {
            HandToDisk(disk, filling);
            return Fail(DownloadCode::Stopped, L"", true);
        }
        const size_t filled = filling.size();
        DWORD read = 0;
        filling.resize(filled + ReadChunkBytes);
        const DWORD error = ReadHttpsBody(get, filling.data() + filled, ReadChunkBytes, read);
        filling.resize(filled + read);
        if (error != ERROR_SUCCESS && options.Stop.stop_requested()) {
            HandToDisk(disk, filling);
            return Fail(DownloadCode::Stopped, L"", true);
        }
        if (error != ERROR_SUCCESS) {
            HandToDisk(disk, filling);
            return NetworkFailure(error, L"at " + std::to_wstring(received) + L" bytes");
        }
        if (read > offer.Size - received) {
            return Fail(DownloadCode::ServerRefused, L"the server sends more than the offer's " +
                                                         std::to_wstring(offer.Size) + L" bytes");
        }
        received += read;
        ended = read == 0;
        const ULONGLONG now = GetTickCount64();
        if ((ended || filling.size() >= HandOverBytes || now - handed >= ProgressEveryMs) &&
            !filling.empty()) {
            handed = now;
            if (!HandToDisk(disk, filling)) {
                return Fail(DownloadCode::FileFailed, L"");
            }
        }
        if (options.OnProgress && (ended || now - reported >= ProgressEveryMs)) {
            reported = now;
            const double seconds = static_cast<double>(now - started + 1) / 1000;
            options.OnProgress(
                {received, offer.Size, static_cast<double>(received - offset) / seconds});
        }
    }
    if (received < offer.Size) {
        return Fail(DownloadCode::NetworkFailed,
                    L"the connection ended at " + std::to_wstring(received) + L" of " +
                        std::to_wstring(offer.Size) + L" bytes",
                    true);
    }
    return std::nullopt;
}

// Sends the GET for what is still to come: from `offset` with the validator
// the partial file was fetched under, or the whole file. The refusal, or
// nothing with the request's answer in `answer`.
std::optional<PackageDownload> AskForPackage(const PackageOffer& offer,
                                             const DownloadOptions& options, std::uint64_t offset,
                                             const std::wstring& validator, HttpsGet& get,
                                             HttpsAnswer& answer) {
    const std::wstring range = offset == 0 ? L""
                                           : L"Range: bytes=" + std::to_wstring(offset) +
                                                 L"-\r\nIf-Range: " + validator + L"\r\n";
    const DWORD sent =
        SendHttpsGet(offer.Url, range, options.StallLimitMs, options.Stop, get, answer);
    if (options.Stop.stop_requested()) {
        return Fail(DownloadCode::Stopped, L"", true);
    }
    if (sent == ERROR_WINHTTP_REDIRECT_FAILED) {
        return Fail(DownloadCode::ServerRefused,
                    L"redirected to a URL that is not https://, or redirected more than ten "
                    L"times (a loop), which is not followed");
    }
    if (sent != ERROR_SUCCESS) {
        return NetworkFailure(sent, L"asking for the package");
    }
    if (!answer.FinalUrl.empty() &&
        !EqualsIgnoringAsciiCase(std::wstring_view(answer.FinalUrl).substr(0, 8), L"https://")) {
        return Fail(DownloadCode::ServerRefused, L"redirected to " + answer.FinalUrl);
    }
    if (answer.Status / 100 == 3) {
        return Fail(DownloadCode::ServerRefused,
                    L"redirected to " + answer.Location + L", which is not https://");
    }
    return std::nullopt;
}

// Checks the partial file whose bytes hash to `digest` and gives it its
// final name; nothing is handed over, or named so, before it is checked.
PackageDownload Finish(const PackageOffer& offer, const Files& files, UniqueHandle& partial,
                       const std::wstring& digest) {
    if (!EqualsIgnoringAsciiCase(digest, offer.Sha256)) {
        return Discard(files, partial, DownloadCode::CheckFailed,
                       L"SHA-256: the file's is " + digest + L", not the offer's");
    }
    partial = ReopenForReading(partial, files.Partial);
    if (partial.get() == INVALID_HANDLE_VALUE) {
        return Discard(files, partial, DownloadCode::CheckFailed,
                       L"the file changed after it was hashed");
    }
    const std::wstring signature =
        SignatureRefusal(partial.get(), files.Partial, offer.PublisherKeys);
    if (!signature.empty()) {
        return Discard(files, partial, DownloadCode::CheckFailed, signature);
    }
    if (!MoveFileExW(files.Partial.c_str(), files.Final.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return Fail(DownloadCode::FileFailed,
                    WindowsError(GetLastError()) + L" naming " + files.Final);
    }
    DeleteFileW(files.Validator.c_str());
    return Downloaded(offer, files.Final);
}

// One fetch into the partial file, resumed where its record allows, then
// checked and given its final name. `resumed` tells whether bytes of an
// earlier attempt went into the file.
PackageDownload FetchAndCheck(const PackageOffer& offer, const DownloadOptions& options,
                              const Files& files, std::vector<char>& buffer, bool& resumed) {
    // What is on disk already counts only when its record names this offer
    // and the validator it was fetched under.
    const std::wstring validator = ReadValidator(files.Validator, offer);
    std::uint64_t offset = validator.empty() ? 0 : FileSize(files.Partial);
    offset = offset > offer.Size ? 0 : offset;
    if (std::optional<PackageDownload> full = ShortOfSpace(options.Folder, offer.Size - offset)) {
        return *full;
    }
    StreamHash hash;
    if (!StartHash(hash)) {
        return Fail(DownloadCode::FileFailed, L"SHA-256 cannot be computed");
    }
    UniqueHandle partial = OwnHandle(nullptr);
    if (offset > 0) {
        partial = OpenPartial(files.Partial, OPEN_EXISTING);
        if (partial.get() == INVALID_HANDLE_VALUE ||
            !HashFileStart(partial.get(), offset, hash, buffer)) {
            offset = 0;
            partial.reset();
            StartHash(hash);
        }
    }
    resumed = offset > 0;
    if (offset < offer.Size) {
        HttpsGet get;
        HttpsAnswer answer;
        std::optional<PackageDownload> refused =
            AskForPackage(offer, options, offset, validator, get, answer);
        // A 206 under another validator than the one sent is another file's
        // rest (a server or cache that ignores If-Range): from the start.
        if (!refused && answer.Status == 206 && answer.Validator != validator) {
            offset = 0;
            resumed = false;
            answer = HttpsAnswer();
            refused = AskForPackage(offer, options, 0, L"", get, answer);
        }
        if (refused) {
            return *refused;
        }
        const AnswerPlan plan = PlanAnswer(answer.Status, answer.ContentLength, answer.ContentRange,
                                           offset, offer.Size);
        if (plan.Use == AnswerUse::Refuse && (answer.Status == 200 || answer.Status == 206)) {
            // The server's file is not the offer's: what is kept of it is useless.
            return Discard(files, partial, DownloadCode::ServerRefused, plan.Refusal);
        }
        if (plan.Use == AnswerUse::Refuse) {
            const bool retry = answer.Status >= 500 || answer.Status == 429 || answer.Status == 408;
            return Fail(DownloadCode::ServerRefused, plan.Refusal, retry);
        }
        if (plan.Use == AnswerUse::StartOver || offset == 0) {
            // Another file than the partial one, or the first bytes: from 0,
            // the record written before the first byte.
            offset = 0;
            resumed = false;
            partial.reset();
            partial = OpenPartial(files.Partial, CREATE_ALWAYS);
            if (partial.get() == INVALID_HANDLE_VALUE || !StartHash(hash) ||
                !WriteValidator(files.Validator, offer, answer.Validator)) {
                return Fail(DownloadCode::FileFailed,
                            WindowsError(GetLastError()) + L" starting " + files.Partial);
            }
        }
        LARGE_INTEGER end = {};
        end.QuadPart = static_cast<LONGLONG>(offset);
        SetFilePointerEx(partial.get(), end, nullptr, FILE_BEGIN);
        // An exception of the progress callback (or std::bad_alloc) leaves
        // through here: the stream's owner ends its thread, what was handed
        // is written, and the partial file stays.
        StreamToDisk disk;
        StartStreamToDisk(disk, partial.get(), hash);
        std::optional<PackageDownload> failure = ReceiveBody(get, offer, options, offset, disk);
        const DWORD written = FinishStreamToDisk(disk);
        if (written != ERROR_SUCCESS) {
            return Fail(DownloadCode::FileFailed,
                        WindowsError(written) + L" writing " + files.Partial);
        }
        if (failure && failure->Code == DownloadCode::ServerRefused) {
            return Discard(files, partial, failure->Code, failure->Detail);
        }
        if (failure) {
            return *failure;
        }
    }
    return Finish(offer, files, partial, FinishHash(hash));
}

// The package built from what the machine has, then checked as a fetched
// one; nothing when the whole package is to be fetched instead, `whole`
// saying why.
std::optional<PackageDownload> BuildAndCheck(const PackageOffer& offer,
                                             const DownloadOptions& options, const Files& files,
                                             std::vector<char>& buffer, std::wstring& whole) {
    const std::uint64_t kept = std::min(FileSize(files.Partial), offer.Size);
    if (std::optional<PackageDownload> full = ShortOfSpace(options.Folder, offer.Size - kept)) {
        return full;
    }
    const DeltaResult delta =
        BuildFromBase(offer, options, files.Partial, files.Validator, BaseFiles(options));
    whole = delta.Detail;
    if (delta.End != DeltaEnd::Built) {
        return delta.End == DeltaEnd::Failed ? std::optional(delta.Failure) : std::nullopt;
    }
    StreamHash hash;
    UniqueHandle partial = OpenPartial(files.Partial, OPEN_EXISTING);
    if (partial.get() == INVALID_HANDLE_VALUE || !StartHash(hash) ||
        !HashFileStart(partial.get(), offer.Size, hash, buffer)) {
        return Fail(DownloadCode::FileFailed, L"reading " + files.Partial);
    }
    PackageDownload built = Finish(offer, files, partial, FinishHash(hash));
    built.Detail = built.Code == DownloadCode::Downloaded ? delta.Detail : built.Detail;
    whole = L"the built package: " + built.Detail;
    return built.Code == DownloadCode::CheckFailed ? std::nullopt : std::optional(built);
}

} // namespace

PackageDownload DownloadPackage(const PackageOffer& offer, const DownloadOptions& options) {
    const std::wstring refusal = CheckOffer(offer, options);
    if (!refusal.empty()) {
        return Fail(DownloadCode::OfferRefused, refusal);
    }
    // One download per folder: another editor window gets "already downloading".
    const std::wstring lockPath = options.Folder + L"\\download.lock";
    const UniqueHandle lock =
        OwnHandle(CreateFileW(lockPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (lock.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION
                   ? Fail(DownloadCode::AlreadyDownloading, L"", true)
                   : Fail(DownloadCode::FileFailed, WindowsError(error) + L" locking " + lockPath);
    }
    Files files;
    files.Final = options.Folder + L"\\tavoPDF-" + offer.Version +
                  (offer.Kind == PackageFormat::Msi ? L".msi" : L".exe");
    files.Partial = files.Final + L".partial";
    files.Validator = files.Partial + L".validator";
    std::vector<char> buffer(ReadChunkBytes);
    if (IsAlreadyThere(offer, files.Final, buffer)) {
        return Downloaded(offer, files.Final);
    }
    // Not the offer's: nothing may read it in the partial file's place.
    if (!DeleteFileW(files.Final.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return Fail(DownloadCode::FileFailed,
                    WindowsError(GetLastError()) + L" removing " + files.Final);
    }
    std::wstring whole;
    if (!offer.Blocks.Url.empty()) {
        std::optional<PackageDownload> built = BuildAndCheck(offer, options, files, buffer, whole);
        if (built) {
            return *built;
        }
    }
    bool resumed = false;
    PackageDownload result = FetchAndCheck(offer, options, files, buffer, resumed);
    // Bytes of two fetches that do not hash to the offer's may be two files
    // mixed by the way: once more from zero (the bad bytes are gone) before
    // the check's verdict is final.
    if (result.Code == DownloadCode::CheckFailed && resumed) {
        result = FetchAndCheck(offer, options, files, buffer, resumed);
    }
    if (result.Code == DownloadCode::Downloaded && !whole.empty()) {
        result.Detail = L"the whole package, as " + whole;
    }
    return result;
}

} // namespace tavo
