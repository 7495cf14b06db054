#include "editor/c/c_interface.h"

using namespace tavo;

extern "C" {

tavo_download_t* tavo_download_new(void) {
    return new (std::nothrow) Download();
}

void tavo_download_free(tavo_download_t* download) {
    delete static_cast<Download*>(download);
}

int32_t tavo_download_set_text(tavo_download_t* handle, int32_t field, const wchar_t* text) {
    auto* download = static_cast<Download*>(handle);
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (text == nullptr) {
            return Answer(*download, TAVO_UPDATE_INVALID_ARGUMENT, L"text: null");
        }
        PackageOffer& offer = download->Offer;
        const std::wstring value = text;
        switch (field) {
        case TAVO_DOWNLOAD_FIELD_URL:
            offer.Url = value;
            break;
        case TAVO_DOWNLOAD_FIELD_SHA256:
            offer.Sha256 = value;
            break;
        case TAVO_DOWNLOAD_FIELD_KIND:
            if (value != L"msi" && value != L"exe") {
                return Answer(*download, TAVO_UPDATE_INVALID_ARGUMENT,
                              L"package kind: not \"msi\" or \"exe\"");
            }
            offer.Kind = value == L"msi" ? PackageFormat::Msi : PackageFormat::Exe;
            break;
        case TAVO_DOWNLOAD_FIELD_VERSION:
            offer.Version = value;
            break;
        case TAVO_DOWNLOAD_FIELD_PUBLISHER_KEY:
            offer.PublisherKeys.push_back(value);
            break;
        case TAVO_DOWNLOAD_FIELD_FOLDER:
            download->Options.Folder = value;
            break;
        default:
            return Answer(*download, TAVO_UPDATE_INVALID_ARGUMENT,
                          L"field: unknown (" + std::to_wstring(field) + L")");
        }
        return Answer(*download, TAVO_UPDATE_OK);
    });
}

int32_t tavo_download_set_size(tavo_download_t* handle, uint64_t size) {
    auto* download = static_cast<Download*>(handle);
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    download->Offer.Size = size;
    return Guarded([&] { return Answer(*download, TAVO_UPDATE_OK); });
}

int32_t tavo_download_set_stall_limit(tavo_download_t* handle, uint32_t limitMs) {
    auto* download = static_cast<Download*>(handle);
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    download->Options.StallLimitMs = limitMs;
    return Guarded([&] { return Answer(*download, TAVO_UPDATE_OK); });
}

int32_t tavo_download_set_progress(tavo_download_t* handle, tavo_download_progress_t progress,
                                   void* user) {
    auto* download = static_cast<Download*>(handle);
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    download->Progress = progress;
    download->User = user;
    return Guarded([&] { return Answer(*download, TAVO_UPDATE_OK); });
}

int32_t tavo_download_run(tavo_download_t* handle) {
    auto* download = static_cast<Download*>(handle);
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        DownloadOptions options = download->Options;
        options.Stop = download->Stop.get_token();
        if (download->Progress != nullptr) {
            options.OnProgress = [download](const DownloadProgress& progress) {
                download->Progress(download->User, progress.Received, progress.Total,
                                   progress.BytesPerSecond);
            };
        }
        download->Result = DownloadPackage(download->Offer, options);
        const PackageDownload& result = download->Result;
        std::wstring detail = result.Detail;
        if (result.RetryMayHelp) {
            detail += detail.empty() ? L"retry may help" : L"; retry may help";
        }
        return Answer(*download, TAVO_UPDATE_DOWNLOADED + static_cast<int32_t>(result.Code),
                      detail);
    });
}

int32_t tavo_download_stop(tavo_download_t* handle) {
    auto* download = static_cast<Download*>(handle);
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    download->Stop.request_stop();
    return TAVO_UPDATE_OK;
}

int32_t tavo_download_detail(const tavo_download_t* handle, wchar_t* text, size_t textSize,
                             size_t* textNeeded) {
    // The lock is the download's own, not part of what the caller hands in as const.
    auto* download = const_cast<Download*>(static_cast<const Download*>(handle));
    if (download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    const std::lock_guard<std::mutex> holding(download->DetailLock);
    return CopyOut(download->Detail, text, textSize, textNeeded, TAVO_UPDATE_OK);
}

int32_t tavo_download_hand_over(const tavo_download_t* handle, tavo_update_attempt_t* target) {
    auto* download = const_cast<Download*>(static_cast<const Download*>(handle));
    auto* attempt = static_cast<Attempt*>(target);
    if (download == nullptr || attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        const UpdateOrder& downloaded = download->Result.Order;
        if (download->Result.Code != DownloadCode::Downloaded || attempt->StartCalled) {
            return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT,
                          attempt->StartCalled ? L"attempt: started already"
                                               : L"download: not downloaded");
        }
        UpdateOrder& order = attempt->Order;
        order.PackagePath = downloaded.PackagePath;
        order.PackageSha256 = downloaded.PackageSha256;
        order.PackageKind = downloaded.PackageKind;
        order.TargetVersion = downloaded.TargetVersion;
        order.PublisherKeys = downloaded.PublisherKeys;
        return Answer(*attempt, TAVO_UPDATE_OK);
    });
}

} // extern "C"
