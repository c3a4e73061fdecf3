#include "station/plugins/PlugInsList.h"

#include "common/Prompt.h"

#include <QAction>
#include <QApplication>
#include <QLibrary>
#include <QMenu>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <strings.h>

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string text)
{
    for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool HasSharedObjectExtension(const std::string& name)
{
    return name.size() > 3 && strcasecmp(name.c_str() + name.size() - 3, ".so") == 0;
}

std::string Text(const char* p) { return p ? std::string(p) : std::string(); }

// Calls into a plug-in. A plug-in's exception is shown and stops that call; the host goes on.
template <typename F>
bool GuardedCall(const std::string& fileName, F&& call)
{
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        ShowWarning(TextWithFileName("Plug-in ", fileName, std::string(": ") + e.what()));
    } catch (...) {
        ShowWarning(TextWithFileName("Plug-in ", fileName, ": unknown error"));
    }
    return false;
}

TPlugIns* PlugInOf(QAction* action)
{
    return action ? reinterpret_cast<TPlugIns*>(action->data().value<quintptr>()) : nullptr;
}

}  // namespace

std::string ShortStringToString(const unsigned char* buffer)
{
    return std::string(reinterpret_cast<const char*>(buffer) + 1, buffer[0]);
}

QWidget* FindControlByName(QWidget* parent, const QString& name)
{
    if (!parent) return nullptr;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget) continue;
        if (widget->objectName() == name) return widget;
        if (QWidget* inner = FindControlByName(widget, name)) return inner;
    }
    return nullptr;
}

std::vector<std::string> TPlugInsList::FindPlugInFiles(const std::string& directory)
{
    std::vector<std::string> names;
    std::error_code ec;
    if (directory.empty() || !fs::is_directory(directory, ec)) return names;
    auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(directory, options, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string name = it->path().filename().string();
        if (HasSharedObjectExtension(name))
            names.push_back(fs::relative(it->path(), directory, ec).generic_string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        int byCase = strcasecmp(a.c_str(), b.c_str());
        return byCase != 0 ? byCase < 0 : a < b;
    });
    return names;
}

TPlugInsList::TPlugInsList(TPlugInHostWindow& host, const std::string& plugInsDirectory) : host_(host)
{
    context_.Version = ZELT_PLUGIN_CONTEXT_VERSION;
    ResetReserved();
    for (const auto& name : FindPlugInFiles(plugInsDirectory)) Load(plugInsDirectory, name);
    AddProcessingEntries();
}

TPlugInsList::~TPlugInsList()
{
    RemoveMenus();
    items_.clear();
    UpdateProcessingVisibility();
}

void TPlugInsList::ResetReserved()
{
    std::memset(context_.Reserved, 0, sizeof context_.Reserved);
    const uint32_t abi = ZELT_PLUGIN_ABI;
    std::memcpy(context_.Reserved, &abi, sizeof abi);
}

void TPlugInsList::Load(const std::string& directory, const std::string& relativeName)
{
    std::string path = (fs::path(directory) / relativeName).string();
    auto library = std::make_unique<QLibrary>(QString::fromStdString(path));
    library->setLoadHints(QLibrary::PreventUnloadHint);
    if (!library->load()) return;
    auto caption = reinterpret_cast<TGetMenuCaptionFunc>(library->resolve("_GetZELTPlugMenuCaption"));
    if (!caption) {
        library->unload();
        return;
    }
    auto plugIn = std::make_unique<TPlugIns>();
    plugIn->FileName = path;
    unsigned char buffer[256] = {};
    if (!GuardedCall(path, [&] { caption(buffer); })) return;
    plugIn->Caption = ShortStringToString(buffer);

    if (auto extended = reinterpret_cast<TExtendedFunc>(library->resolve("_ExtendedPlugInsFunc"))) {
        plugIn->Extended = true;
        if (!GuardedCall(path, [&] { extended(ZELT_EXT_INFO, &plugIn->ExtInfo); })) return;
        int count = std::clamp(plugIn->ExtInfo.MenuCount, 0, MaxMenuCount);
        for (int index = 0; index < count; ++index) {
            TPlugInMenuDef def;
            std::memset(&def, 0, sizeof def);
            def.Index = index;
            if (!GuardedCall(path, [&] { extended(ZELT_EXT_MENU, &def); })) return;
            TPlugIns::MenuDef menu;
            menu.Skip = def.Skip != 0;
            menu.NoClick = def.NoClick1 != 0 || def.NoClick2 != 0;
            menu.FormName = Text(def.FormName);
            menu.ControlName = Text(def.ControlName);
            menu.Caption = Text(def.Caption);
            menu.InsertBefore = Text(def.InsertBefore);
            plugIn->Menus.push_back(std::move(menu));
        }
    }
    plugIn->Library = library.release();  // never unloaded: its code may still be referenced
    items_.push_back(std::move(plugIn));
}

void TPlugInsList::AddProcessingEntries()
{
    QMenu* menu = host_.ProcessingMenu();
    if (!menu) return;
    for (auto& plugIn : items_) {
        if (plugIn->Extended) continue;
        QAction* action = menu->addAction(AnsiToQString(plugIn->Caption));
        action->setData(QVariant::fromValue(reinterpret_cast<quintptr>(plugIn.get())));
        connect(action, &QAction::triggered, this, &TPlugInsList::PlugInMenuClick);
    }
    UpdateProcessingVisibility();
}

void TPlugInsList::UpdateProcessingVisibility()
{
    QMenu* menu = host_.ProcessingMenu();
    if (!menu) return;
    bool any = !menu->actions().isEmpty();
    menu->menuAction()->setVisible(any);
    if (QAction* button = host_.ProcessingButton()) button->setVisible(any);
}

void TPlugInsList::AddFormMenus(QWidget* form)
{
    if (!form) return;
    const QString formName = form->objectName();
    bool added = false;
    for (auto& plugIn : items_) {
        if (!plugIn->Extended) continue;
        for (const auto& def : plugIn->Menus) {
            if (def.Skip || QString::fromStdString(def.FormName) != formName) continue;
            auto* button = qobject_cast<QToolButton*>(FindControlByName(form, QString::fromStdString(def.ControlName)));
            if (!button) continue;
            QMenu* menu = button->menu();
            if (!menu) {
                menu = new QMenu(button);
                button->setMenu(menu);
            }
            QAction* before = nullptr;
            if (!def.InsertBefore.empty()) {
                for (QAction* existing : menu->actions())
                    if (existing->objectName() == QString::fromStdString(def.InsertBefore)) {
                        before = existing;
                        break;
                    }
                if (!before) continue;
            }
            button->setVisible(true);
            auto* action = new QAction(AnsiToQString(def.Caption), form);
            action->setData(QVariant::fromValue(reinterpret_cast<quintptr>(plugIn.get())));
            if (!def.NoClick) connect(action, &QAction::triggered, this, &TPlugInsList::PlugInMenuClick);
            menu->insertAction(before, action);
            added = true;
        }
    }
    if (added) formsWithMenus_.push_back(form);
}

void TPlugInsList::RemoveMenus()
{
    auto ownedByUs = [this](QAction* action) {
        TPlugIns* plugIn = PlugInOf(action);
        return std::any_of(items_.begin(), items_.end(), [&](const auto& p) { return p.get() == plugIn; });
    };
    for (QWidget* form : formsWithMenus_) {
        for (QToolButton* button : form->findChildren<QToolButton*>()) {
            QMenu* menu = button->menu();
            if (!menu) continue;
            auto actions = menu->actions();
            for (auto it = actions.rbegin(); it != actions.rend(); ++it)
                if (ownedByUs(*it)) {
                    menu->removeAction(*it);
                    delete *it;
                }
        }
    }
    formsWithMenus_.clear();
    if (QMenu* menu = host_.ProcessingMenu())
        for (QAction* action : menu->actions())
            if (ownedByUs(action)) {
                menu->removeAction(action);
                delete action;
            }
}

void TPlugInsList::FillContext(bool expertMode, void* medium, void* currentDataFileSlot, void* scnList,
                               void* instrumentList, bool confirmWrite)
{
    context_.Version = ZELT_PLUGIN_CONTEXT_VERSION;
    context_.ExpertMode = expertMode ? 1 : 0;
    context_.Medium = medium;
    context_.CurrentDataFile = currentDataFileSlot;
    context_.ScnList = scnList;
    context_.InstrumentList = instrumentList;
    context_.ConfirmWrite = confirmWrite ? 1 : 0;
    context_.StationParams = nullptr;
    ResetReserved();
}

void TPlugInsList::PlugInMenuClick()
{
    if (TPlugIns* plugIn = PlugInOf(qobject_cast<QAction*>(sender()))) RunPlugIn(*plugIn);
}

int TPlugInsList::RunPlugIn(TPlugIns& plugIn)
{
    lastExecuteResult_ = -1;
    if (!plugIn.Library) return 0;
    QWidget* form = host_.HostForm();
    if (host_.TransferInProgress()) {
        ShowWarning("A transfer is in progress: the plug-in cannot run now.");
        return 0;
    }
    auto initialize = reinterpret_cast<TInitializeFunc>(plugIn.Library->resolve("_Initialize"));
    if (!initialize) {
        if (form) form->show();
        return 1;
    }
    context_.PlugInFileName = &plugIn.FileName;
    context_.Application = QCoreApplication::instance();
    ResetReserved();
    bool closeForm = false;
    {
        // The decoded parameters are held here for the run and freed after it, whatever the result:
        // reloading the data file refills the context, which must not lose them.
        struct RunParams {
            TPlugInHostWindow& host;
            void* params;
            ~RunParams() { host.FreeStationParams(params); }
        } runParams{host_, host_.DecodeStationParams()};
        context_.StationParams = runParams.params;

        bool initialized = false;
        GuardedCall(plugIn.FileName, [&] { initialized = initialize(&context_) != 0; });
        auto execute = reinterpret_cast<TExecuteFunc>(plugIn.Library->resolve("_Execute"));
        if (initialized && execute) {
            if (plugIn.Extended && plugIn.ExtInfo.HideMainForm && form) form->hide();
            int32_t result = -1;
            const bool ran = GuardedCall(plugIn.FileName, [&] { result = execute(0); });
            lastExecuteResult_ = ran ? result : -1;
            if (ran && result == 0) {
                if (!plugIn.Extended || plugIn.ExtInfo.ReloadData) host_.ReloadCurrentDataFile();
                closeForm = plugIn.Extended && plugIn.ExtInfo.CloseMainForm;
            }
        }
        context_.StationParams = nullptr;
    }
    if (form) {
        form->show();
        if (closeForm) form->close();
    }
    return 1;
}

TPlugIns* TPlugInsList::FindByName(const std::string& name)
{
    std::string wanted = Upper(name);
    if (fs::path(wanted).extension().empty()) wanted += ".SO";
    for (auto& plugIn : items_)
        if (Upper(fs::path(plugIn->FileName).filename().string()) == wanted) return plugIn.get();
    return nullptr;
}

int TPlugInsList::RunByName(const std::string& name)
{
    TPlugIns* plugIn = FindByName(name);
    return plugIn ? RunPlugIn(*plugIn) : 0;
}
