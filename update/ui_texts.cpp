#include <cwchar>

#include "app/native_app.h"

namespace updater {

namespace {

struct TextRow {
    const wchar_t* key;
    const wchar_t* english;
    const wchar_t* ukrainian;
    const wchar_t* russian;
};

// Every text the user reads in the chosen language, in lookup order.
constexpr TextRow kTexts[] = {
    {L"About", L"About", L"Опис", L"Описание"},
    {L"Donation", L"Top up balance", L"Поповнити баланс", L"Пополнить баланс"},
    {L"Registration", L"Sign up", L"Реєстрація", L"Регистрация"},
    {L"Forum", L"Forum", L"ФОРУМ", L"ФОРУМ"},
    {L"StartGame", L"Play", L"Грати", L"Играть"},
    {L"Cancel", L"CANCEL", L"СКАСУВАТИ", L"ОТМЕНА"},
    {L"ClanPatch", L"Clan patch", L"Клановий патч", L"Клановый патч"},
    {L"Ready", L"Ready", L"Готово до роботи", L"Готов к работе"},
    {L"LoadingConfig", L"Connecting...", L"Підключення...", L"Подключение..."},
    {L"CheckingFiles", L"Checking files", L"Перевірка файлів", L"Проверка файлов"},
    {L"CheckingDetail", L"Checking files...", L"Перевірка файлів...", L"Проверка файлов..."},
    {L"Downloading", L"Downloading", L"Завантаження", L"Скачивание"},
    {L"DownloadingDetail", L"Downloading files...", L"Завантаження файлів...", L"Загрузка файлов..."},
    {L"ResettingGameSettings", L"Resetting game settings", L"Скидання налаштувань гри", L"Сброс настроек игры"},
    {L"CheckingLauncherUpdate", L"Checking launcher version", L"Перевірка версії апдейтера",
     L"Проверка версии апдейтера"},
    {L"DownloadingLauncherUpdate", L"Downloading new updater version", L"Завантаження нової версії апдейтера",
     L"Загрузка новой версии апдейтера"},
    {L"LauncherUpdateError", L"Could not update updater. Continuing current version.",
     L"Не вдалося оновити апдейтер. Продовжуємо поточну версію.",
     L"Не удалось обновить апдейтер. Продолжаем текущую версию."},
    {L"FilesActual", L"Files are up to date", L"Файли вже актуальні", L"Файлы уже актуальны"},
    {L"UpdateComplete", L"Update complete", L"Оновлення завершено", L"Обновление завершено"},
    {L"UpdateCompleteWithErrors", L"Update complete with errors", L"Оновлення завершено з помилками",
     L"Обновление завершено с ошибками"},
    {L"FailedFiles", L"Failed files", L"Не завантажено файлів", L"Не скачано файлов"},
    {L"FailedManifests", L"Failed manifests", L"Не завантажено маніфестів", L"Не загружено манифестов"},
    {L"UpdateCanceled", L"Update canceled", L"Оновлення скасовано", L"Обновление отменено"},
    {L"Canceling", L"Canceling update...", L"Скасування оновлення...", L"Отмена обновления..."},
    {L"UpdateError", L"Update error", L"Помилка оновлення", L"Ошибка обновления"},
    {L"ClientMissing", L"Client not found", L"Клієнт не знайдено", L"Клиент не найден"},
    {L"RunUpdateFirst", L"Run update before starting the game.", L"Запустіть оновлення перед стартом гри.",
     L"Запустите обновление перед стартом игры."},
    {L"UpdateMustFinish", L"Finish the started update before launching the game.",
     L"Завершіть розпочате оновлення перед запуском гри.", L"Завершите начатое обновление перед запуском игры."},
    {L"StartError", L"Launch error", L"Помилка запуску", L"Ошибка запуска"},
    {L"StartErrorDetail", L"Could not launch the game.", L"Не вдалося запустити гру.", L"Не удалось запустить игру."},
    {L"NoFilesToCheck", L"No files to check", L"Немає файлів для перевірки", L"Нет файлов для проверки"},
    {L"Speed", L"Speed", L"Швидкість", L"Скорость"},
    {L"Paused", L"Paused", L"Пауза", L"Пауза"},
};

// "EN" in any case is English, "UK" or "UA" in any case Ukrainian, anything
// else Russian.
NativeApp::TextColumn ColumnOf(const std::wstring& code) {
    if (_wcsicmp(code.c_str(), L"EN") == 0) return NativeApp::TextColumn::English;
    if (_wcsicmp(code.c_str(), L"UK") == 0 || _wcsicmp(code.c_str(), L"UA") == 0) {
        return NativeApp::TextColumn::Ukrainian;
    }
    return NativeApp::TextColumn::Russian;
}

const wchar_t* TextIn(const TextRow& row, NativeApp::TextColumn column) {
    if (column == NativeApp::TextColumn::English) return row.english;
    if (column == NativeApp::TextColumn::Ukrainian) return row.ukrainian;
    return row.russian;
}

}  // namespace

void NativeApp::SetLanguage(std::wstring code) {
    textColumn.store(ColumnOf(code));
    language = std::move(code);
}

std::wstring NativeApp::T(const std::wstring& key) const {
    const TextColumn column = textColumn.load();
    for (const TextRow& row : kTexts) {
        if (key == row.key) return TextIn(row, column);
    }
    return key;
}

}  // namespace updater
