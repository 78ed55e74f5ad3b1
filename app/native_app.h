#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/gdiplus_headers.h"
#include "app/hit_buttons.h"
#include "app/image_assets.h"
#include "foundation/logger.h"
#include "http/http_client.h"
#include "update/server_config.h"

namespace updater {

struct UpdateFileEntry;
struct UpdatePlan;
class DownloadSpeedMeter;
struct ParsedVersion;
struct ProcessLaunch;

// The parsed command line.
struct LaunchOptions {
    bool debug = false;
    std::wstring commandLine;
    std::vector<std::wstring> arguments;
};

// What the entry point does with an exception that left Run: shows its
// message in an error box with no owner and returns the exit code 1.
int ShowRunError(const std::exception& error);

// The progress state the window draws; a paint draws a copy taken under uiMutex.
struct UiState {
    std::wstring status = L"Готов к работе";
    std::wstring detail;
    std::wstring speed;
    double percent = 0.0;
    bool busy = false;
    bool paused = false;
    bool cancelVisible = false;
};

// The one application object. Engine operations live in update/, window
// operations in app/; every thread gets a plain pointer to it and ends before
// it is destroyed.
class NativeApp {
public:
    NativeApp() = default;
    NativeApp(const NativeApp&) = delete;
    NativeApp& operator=(const NativeApp&) = delete;

    // ---- Progress state and texts (update/ui_state.cpp, update/ui_texts.cpp) ----
    void SetUi(std::wstring status, std::wstring detail, double percent);
    void SetProgressUi(std::wstring status, std::wstring detail, double percent);
    void SetBusy(bool busy);
    void SetSpeed(std::wstring text);
    // The update run's finish: clears startedUpdateMustFinish and the busy
    // state, then frees workerRunning last.
    void ClearInteractiveBusy();
    std::wstring T(const std::wstring& key) const;
    // Replaces `language` and the column T reads; every writer of the
    // language goes through here (window thread and settings load).
    void SetLanguage(std::wstring code);
    // Column of the text table, in table order.
    enum class TextColumn { English, Ukrainian, Russian };

    // ---- Status text translation (app/) ----
    std::wstring LocalizeKnown(std::wstring text) const;
    std::wstring MenuText(const std::wstring& key) const;

    // ---- Server configuration, manifests and plan (update/) ----
    // fromServer: true exactly when the configuration's download succeeded.
    // The download stops on cancel: cancelStartup for the start-up check,
    // cancelUpdate for a manual self-update.
    ServerConfig LoadServerConfig(const std::atomic<bool>& cancel, bool& fromServer);
    UpdatePlan BuildPlan();
    std::string DownloadManifestArchive(const std::wstring& source, const std::wstring& url,
                                        const std::wstring& sha256, long long size);

    // ---- Update run, check and download workers (update/) ----
    // Claims workerRunning for a new run and, when it was free, clears
    // cancelUpdate and paused and sets startedUpdateMustFinish; false when a
    // run or a self-update already holds it.
    bool ClaimUpdateRun();
    // After a successful claim: shows the run as started and starts it on
    // updateThread (joining the previous, finished thread first).
    void StartUpdateRun(bool resetSystemBeforeUpdate);
    bool NeedsUpdate(const UpdateFileEntry& entry, std::atomic<long long>& checkedWeight, long long totalWeight);
    void DownloadEntry(const UpdateFileEntry& entry, const std::wstring& tempRoot, unsigned index,
                       long long totalBytes, std::atomic<long long>& downloadedBytes,
                       std::vector<long long>& perEntryBytes, std::mutex& progressMutex,
                       DownloadSpeedMeter& speedMeter);

    // ---- Self-update and the start-up check (update/) ----
    bool CheckSelfUpdate(const ServerConfig& config, bool force);
    ParsedVersion ParseVersion(const std::wstring& text);
    void StartStartupCheck();
    void ForceSelfUpdate();
    // Downloads the package from its URL or the mirror, checking its SHA-256;
    // throws the last attempt's error when every attempt failed.
    void DownloadLauncherPackage(const ServerConfig& config, const std::wstring& packagePath);
    void OnLauncherDownloadProgress(long long downloaded, long long contentLength, long long chunkBytes);
    // Writes and starts the replacement script and closes the window; throws
    // when the script cannot be written or started.
    bool StartSelfReplace(const std::wstring& newExe);
    void StartupCheckThread();
    void ManualSelfUpdateThread();
    // How the replacement script is started: StartHiddenProcess when empty;
    // tests put a recorder here.
    std::function<bool(const ProcessLaunch& launch, unsigned long& error)> startProcess;

    // ---- Entry, window procedure, actions, settings (app/) ----
    int Run(HINSTANCE instance, const LaunchOptions& options);
    void LogStartupEnvironment();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void CancelCurrentUpdate();
    void OnMouseUp(int x, int y);
    void RunUpdate();
    void StartGame();
    void OpenLink(const std::wstring& key);
    void LoadSettings();
    // Throws "Could not open file for writing" when the file cannot be replaced.
    void SaveSettings();
    // What the button actions call: a failed save is logged and never stops them.
    void SaveSettingsOrLog();
    std::wstring SettingsPath() const;
    // The settings file's DebugLog, read before logging starts.
    bool SavedDebugFlag() const;
    void PickImages();
    bool RegisterWindowClass();
    bool CreateMainWindow();
    // Destroys the window (WM_DESTROY joins the workers), releases the bitmaps
    // and shuts GDI+ down; safe to call again.
    void EndRunSession();
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnMouseMove(int x, int y);
    void OnMouseDown(int x, int y);
    void OnDestroy();
    // Sets the cancel flags, aborts the open requests and joins both threads.
    void StopWorkers();
    void ChooseLanguage(const wchar_t* code);
    void ToggleDebugLog();

    // ---- Click areas, drawing and images (app/) ----
    void AddHit(const Gdiplus::RectF& rect, ButtonAction action, bool circular);
    ButtonAction HitTest(float x, float y);
    void Paint();
    // Draws one whole frame of the given client size into the device context
    // and rebuilds the click areas; Paint draws through it into the back buffer.
    void DrawFrame(HDC dc, int width, int height);
    // Makes the back buffer for the size unless it exists; false when it cannot.
    bool EnsureBackBuffer(HDC windowDc, int width, int height);
    // Frees the back buffer and sets its five fields to null or 0.
    void ReleaseBackBuffer();
    void DrawImageLayer(Gdiplus::Graphics& graphics, int width, int height);
    static void DrawBitmapWithOpacity(Gdiplus::Graphics& graphics, Gdiplus::Bitmap* bitmap,
                                      const Gdiplus::RectF& destination, float opacity);
    void DrawTopBar(Gdiplus::Graphics& graphics, int width, int height);
    void DrawSocialCircles(Gdiplus::Graphics& graphics, int width, int height);
    static std::unique_ptr<Gdiplus::GraphicsPath> RoundedPath(const Gdiplus::RectF& rect, float radius);
    static void FillRoundRect(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, float radius,
                              Gdiplus::Brush* brush);
    static void StrokeRoundRect(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, float radius,
                                Gdiplus::Color color, float width);
    static void DrawCenteredString(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::RectF& rect,
                                   const Gdiplus::Font& font, Gdiplus::Color color);
    void DrawRoundButton(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, Gdiplus::Color first,
                         Gdiplus::Color second, ButtonAction action, bool circular, bool outline);
    void DrawLanguage(Gdiplus::Graphics& graphics, const std::wstring& label, const Gdiplus::RectF& rect,
                      bool selected, const Gdiplus::Font& font, ButtonAction action);
    void DrawMainControls(Gdiplus::Graphics& graphics, int width, int height, const UiState& state);
    // The measured width of the text, rounded up to a whole pixel.
    static float MeasuredWidth(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font& font,
                               INT formatFlags);
    void DrawPlayButton(Gdiplus::Graphics& graphics, const Gdiplus::RectF& play, const Gdiplus::Font& font);
    void DrawUpdateButton(Gdiplus::Graphics& graphics, const Gdiplus::RectF& upd, const UiState& state);
    static void DrawProgress(Gdiplus::Graphics& graphics, float barTop, float barWidth, const UiState& state,
                             const Gdiplus::Font& font);
    void DrawClanPatchCard(Gdiplus::Graphics& graphics, const Gdiplus::RectF& card, const Gdiplus::Font& font);
    void DrawBottomLine(Gdiplus::Graphics& graphics, float height, const UiState& state, const Gdiplus::Font& small,
                        const Gdiplus::Font& tiny);
    static void DrawResetTooltip(Gdiplus::Graphics& graphics, const Gdiplus::RectF& option, int width, int height,
                                 const Gdiplus::Font& font);
    std::vector<ImageAsset> GetImageAssets(const std::wstring& group, std::initializer_list<int> ids);
    std::vector<std::wstring> GetExternalImageFiles(const std::wstring& group);
    void AddRootAndParents(std::vector<std::wstring>& roots, const std::wstring& start, int levels);
    ImageAsset PickImageAsset(const std::vector<ImageAsset>& assets, const ImageAsset& previous) const;
    // The pick as made at the given tick count, the seed's only varying part.
    static ImageAsset PickImageAssetAt(const std::vector<ImageAsset>& assets, const ImageAsset& previous,
                                       std::uint32_t tick);
    void ApplyRandomAsset(const std::vector<ImageAsset>& assets, ImageAsset& current,
                          std::unique_ptr<Gdiplus::Bitmap>& bitmap);
    std::unique_ptr<Gdiplus::Bitmap> LoadBitmapResource(int id);

    // ---- Fields, in the order that construction and destruction follow ----
    HINSTANCE instance = nullptr;
    HWND hwnd = nullptr;
    HDC backBufferDc = nullptr;
    HBITMAP backBufferBitmap = nullptr;
    HGDIOBJ backBufferOldBitmap = nullptr;
    ULONG_PTR gdiplusToken = 0;
    LaunchOptions launchOptions;
    std::wstring appDir;
    std::wstring exePath;
    Logger logger;
    HttpClient http;
    std::wstring clientPath;
    std::wstring language = L"RU";
    // What T reads instead of `language`: engine threads call T while the
    // window thread replaces the wide string.
    std::atomic<TextColumn> textColumn{TextColumn::Russian};
    bool clanPatchEnabled = false;
    bool debugLog = false;
    ServerConfig serverConfig;
    UiState ui;
    // A cancel of the current run is shown: its progress and speed reports change nothing (uiMutex).
    bool cancelShown = false;
    std::mutex uiMutex;
    std::mutex configMutex;
    std::vector<HitButton> hitButtons;
    ButtonAction hoveredAction = ButtonAction::None;
    bool resetGameSettings = false;
    std::atomic<bool> cancelUpdate{false};
    std::atomic<bool> cancelStartup{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> workerRunning{false};
    std::atomic<bool> startupWork{true};
    std::atomic<bool> startedUpdateMustFinish{false};
    std::atomic<bool> manualSelfUpdateRunning{false};
    std::unique_ptr<Gdiplus::Bitmap> logoBitmap;
    std::unique_ptr<Gdiplus::Bitmap> backgroundBitmap;
    std::unique_ptr<Gdiplus::Bitmap> characterBitmap;
    std::unique_ptr<Gdiplus::Bitmap> layerCacheBitmap;
    std::thread startupThread;
    std::thread updateThread;
    std::vector<ImageAsset> backgroundAssets;
    std::vector<ImageAsset> characterAssets;
    ImageAsset selectedBackground;
    ImageAsset selectedCharacter;
    double uiScale = 1.0;
    int layerCacheWidth = 0;
    int layerCacheHeight = 0;
    int backBufferWidth = 0;
    int backBufferHeight = 0;
};

}  // namespace updater
