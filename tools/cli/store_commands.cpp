// vexory-cli store show / store write / settings.

#include "commands.h"

#include "model/gbk_texts.h"
#include "model/settings.h"
#include "model/task_store.h"
#include "platform/codepage.h"
#include "platform/program_folder.h"

#include <iostream>
#include <limits>

namespace vexory::cli {

namespace {

using Json = nlohmann::ordered_json;

Json taskToJson(const TTaskRecord& t)
{
    Json j;
    j["TaskName"] = GbkToUtf8(t.TaskName);
    j["GuideUrl"] = GbkToUtf8(t.GuideUrl);
    j["PageUrl"] = GbkToUtf8(t.PageUrl());
    j["ElementId"] = GbkToUtf8(t.ElementId);
    j["VerifyFormula"] = GbkToUtf8(t.VerifyFormula);
    j["GrabFormula"] = GbkToUtf8(t.GrabFormula);
    j["SavedTestResult"] = GbkToUtf8(t.SavedTestResult);
    j["FormulaSent"] = t.FormulaSent.load();
    j["ClearTags"] = t.ClearTags;
    j["PushToPlugin"] = t.PushToPlugin;
    j["MainField"] = t.MainField.load();
    j["ConnectTimeout"] = t.ConnectTimeout;
    j["RefreshInterval"] = t.RefreshInterval;
    j["NotifyInterval"] = t.NotifyInterval;
    j["Checked"] = t.Checked;
    j["Selected"] = t.Selected;
    j["CompareLastScreen"] = t.CompareLastScreen;
    return j;
}

Json accountToJson(const TAccountRecord& a)
{
    Json j;
    j["AutoEnd"] = a.AutoEnd;
    j["ShutdownFlags"] = a.ShutdownFlags;
    j["Reserved"] = a.Reserved;
    j["Nickname"] = GbkToUtf8(a.Nickname);
    j["PasswordDigest"] = GbkToUtf8(a.PasswordDigest);
    j["Tasks"] = Json::array();
    for (const auto& t : a.Tasks)
        j["Tasks"].push_back(taskToJson(t));
    return j;
}

// Reads the fields of one JSON object, naming the place of any fault.
class FieldReader
{
public:
    FieldReader(const Json& object, std::string where) : m_object(object), m_where(std::move(where))
    {
        if (!object.is_object())
            throw UsageError(m_where + ": expected a JSON object");
    }

    const Json& field(const char* name)
    {
        m_known.push_back(name);
        auto it = m_object.find(name);
        if (it == m_object.end())
            throw UsageError(m_where + ": field " + name + " is missing");
        return *it;
    }

    std::string text(const char* name)
    {
        const Json& v = field(name);
        if (!v.is_string())
            throw UsageError(m_where + ", field " + name + ": expected a string");
        std::optional<std::string> gbk = Utf8ToGbkStrict(v.get<std::string>());
        if (!gbk)
            throw UsageError(m_where + ", field " + name + ": holds a character that code page 936 (GBK) cannot hold");
        return *gbk;
    }

    uint64_t number(const char* name, uint64_t max)
    {
        const Json& v = field(name);
        if (!v.is_number_integer() || (v.is_number_integer() && !v.is_number_unsigned() && v.get<int64_t>() < 0) ||
            v.get<uint64_t>() > max)
            throw UsageError(m_where + ", field " + name + ": " + v.dump() + " is not an integer in 0.." +
                             std::to_string(max));
        return v.get<uint64_t>();
    }

    uint8_t byte(const char* name) { return static_cast<uint8_t>(number(name, 255)); }
    uint32_t u32(const char* name) { return static_cast<uint32_t>(number(name, 4294967295u)); }

    // Refuses keys that name no field (a typo would otherwise be lost silently).
    void noOthers(std::initializer_list<const char*> alsoKnown = {})
    {
        for (auto it = m_object.begin(); it != m_object.end(); ++it) {
            bool known = false;
            for (const char* k : m_known)
                known = known || it.key() == k;
            for (const char* k : alsoKnown)
                known = known || it.key() == k;
            if (!known)
                throw UsageError(m_where + ": unknown field " + it.key());
        }
    }

private:
    const Json& m_object;
    std::string m_where;
    std::vector<const char*> m_known;
};

void taskFromJson(const Json& j, size_t number, TTaskRecord& t)
{
    std::string where = "task " + std::to_string(number);
    if (j.is_object() && j.contains("TaskName") && j["TaskName"].is_string())
        where += " (" + j["TaskName"].get<std::string>() + ")";
    FieldReader r(j, where);
    t.TaskName = r.text("TaskName");
    t.GuideUrl = r.text("GuideUrl");
    t.SetPageUrl(r.text("PageUrl"));
    t.ElementId = r.text("ElementId");
    t.VerifyFormula = r.text("VerifyFormula");
    t.GrabFormula = r.text("GrabFormula");
    t.SavedTestResult = r.text("SavedTestResult");
    t.FormulaSent = r.byte("FormulaSent");
    t.ClearTags = r.byte("ClearTags");
    t.PushToPlugin = r.byte("PushToPlugin");
    t.MainField = r.byte("MainField");
    t.ConnectTimeout = r.u32("ConnectTimeout");
    t.RefreshInterval = r.u32("RefreshInterval");
    t.NotifyInterval = r.u32("NotifyInterval");
    t.Checked = r.byte("Checked");
    t.Selected = r.byte("Selected");
    t.CompareLastScreen = r.byte("CompareLastScreen");
    r.noOthers();
}

void accountFromJson(const Json& j, TAccountRecord& a)
{
    FieldReader r(j, "header");
    a.AutoEnd = r.byte("AutoEnd");
    a.ShutdownFlags = r.byte("ShutdownFlags");
    a.Reserved = static_cast<uint16_t>(r.number("Reserved", 65535));
    a.Nickname = r.text("Nickname");
    a.PasswordDigest = r.text("PasswordDigest");
    const Json& tasks = r.field("Tasks");
    r.noOthers();
    if (!tasks.is_array())
        throw UsageError("header, field Tasks: expected a list of tasks");
    a.Tasks.reserve(tasks.size());
    for (size_t i = 0; i < tasks.size(); ++i) {
        a.Tasks.emplace_back();
        taskFromJson(tasks[i], i + 1, a.Tasks.back());
    }
}

} // namespace

int StoreShow(Args args, const Options&)
{
    ExpectOperands(args, 1, 1, "vexory-cli store show FILE");
    TAccountRecord account;
    if (!ReadStore(args[0], account)) {
        std::cerr << GbkToUtf8(texts::kStoreReadError) << '\n';
        return kExitFailed;
    }
    WriteJson(accountToJson(account));
    return 0;
}

int StoreWrite(Args args, const Options&)
{
    ExpectOperands(args, 2, 2, "vexory-cli store write JSON_FILE FILE");
    Json json;
    try {
        json = Json::parse(ReadFileBytes(args[0]));
    } catch (const nlohmann::json::parse_error& e) {
        throw UsageError(args[0] + ": not valid JSON: " + e.what());
    }
    TAccountRecord account;
    accountFromJson(json, account);
    std::string error;
    if (!WriteStore(account, args[1], &error)) {
        std::cerr << "cannot write the task store: " << error << '\n';
        return kExitFailed;
    }
    return 0;
}

int Settings(Args args, const Options&)
{
    // The remaining arguments stand for the program's own command line.
    for (const auto& a : args)
        if (a.rfind("--", 0) == 0)
            throw UsageError("unknown option " + a + "\nusage: vexory-cli settings [PROGRAM_ARGUMENTS...]");
    TAccountRecord account;
    TProcessValues values;
    const std::string store = ProgramFile(kStoreFileName);
    const std::string ini = ProgramFile(kSettingsFileName);
    const bool storeRead = ReadStore(store, account);
    ReadSettings(ini, args, account, values);

    Json j;
    j["home"] = ProgramFolder();
    j["store"] = store;
    j["ini"] = ini;
    j["log"] = ProgramFile(kLogFileName);
    j["autorun"] = values.AutoRun;
    j["autologin"] = values.AutoLogin;
    j["debugging"] = values.Debugging;
    j["mainfields"] = GbkToUtf8(values.MainFields);
    j["server"] = GbkToUtf8(values.Server);
    j["store_readable"] = storeRead;
    j["tasks"] = account.Tasks.size();
    Json fields = Json::array();
    for (auto [index, field] : ParseMainFields(values.MainFields, account.Tasks.size()))
        fields.push_back(Json{{"task", index}, {"field", field}});
    j["main_fields"] = fields;
    WriteJson(j);
    return 0;
}

} // namespace vexory::cli
