#include <cwctype>
#include <string_view>
#include <vector>

#include "app/native_app.h"

namespace updater {

namespace {

struct KnownStatus {
    const wchar_t* stored;
    const wchar_t* key;
};

// Russian texts that the engine and the window store literally; the paint
// shows them in the chosen language.
constexpr KnownStatus kKnownStatuses[] = {
    {L"Готов к работе", L"Ready"},
    {L"Подключение...", L"LoadingConfig"},
    {L"Проверка файлов", L"CheckingFiles"},
    {L"Проверка файлов...", L"CheckingDetail"},
    {L"Скачивание", L"Downloading"},
    {L"Загрузка файлов...", L"DownloadingDetail"},
    {L"Сброс настроек игры", L"ResettingGameSettings"},
    {L"Проверка версии апдейтера", L"CheckingLauncherUpdate"},
    {L"Загрузка новой версии апдейтера", L"DownloadingLauncherUpdate"},
    {L"Не удалось обновить апдейтер. Продолжаем текущую версию.", L"LauncherUpdateError"},
    {L"Файлы уже актуальны", L"FilesActual"},
    {L"Обновление завершено", L"UpdateComplete"},
    {L"Обновление завершено с ошибками", L"UpdateCompleteWithErrors"},
    {L"Обновление отменено", L"UpdateCanceled"},
    {L"Отмена обновления...", L"Canceling"},
    {L"Ошибка обновления", L"UpdateError"},
    {L"Клиент не найден", L"ClientMissing"},
    {L"Запустите обновление перед стартом игры.", L"RunUpdateFirst"},
    {L"Завершите начатое обновление перед запуском игры.", L"UpdateMustFinish"},
    {L"Ошибка запуска", L"StartError"},
    {L"Не удалось запустить игру.", L"StartErrorDetail"},
    {L"Нет файлов для проверки", L"NoFilesToCheck"},
    {L"Пауза", L"Paused"},
};

constexpr std::wstring_view kSpeedPrefix = L"Скорость: ";

}  // namespace

std::wstring NativeApp::LocalizeKnown(std::wstring text) const {
    if (text.empty()) return text;
    for (const KnownStatus& known : kKnownStatuses) {
        if (text == known.stored) return T(known.key);
    }
    if (std::wstring_view(text).substr(0, kSpeedPrefix.size()) == kSpeedPrefix) {
        return T(L"Speed") + L": " + text.substr(kSpeedPrefix.size());
    }
    return text;
}

std::wstring NativeApp::MenuText(const std::wstring& key) const {
    std::wstring text = T(key);
    const int needed = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, text.c_str(), -1, nullptr, 0);
    if (needed > 0) {
        std::vector<wchar_t> buffer(needed);
        int mapped = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, text.c_str(), -1, buffer.data(), needed);
        // A second call that fails leaves the buffer empty: upper-case by hand then.
        if (mapped > 0) {
            if (buffer[mapped - 1] == L'\0') --mapped;
            return std::wstring(buffer.data(), mapped);
        }
    }
    for (wchar_t& character : text) character = static_cast<wchar_t>(std::towupper(character));
    return text;
}

}  // namespace updater
