#include "tools/publish/description.h"

// Header-only and without exceptions: a description with a mistake is a finding with a line,
// not an exception, and the tool needs no run-time library of toml++ beside it.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::uint64_t LineOf(const toml::node& node) {
    return node.source().begin.line;
}

// Where a key missing from a table is reported: the table's header, or the whole file for
// the top level, which has none.
std::uint64_t MissingKeyLine(const toml::table& table, const toml::table& root) {
    return &table == &root ? 0 : LineOf(table);
}

class DescriptionReader {
  public:
    DescriptionReader(const fs::path& file, std::vector<Finding>& findings)
        : m_folder(fs::absolute(file).parent_path()), m_findings(findings) {}

    bool Read(const toml::table& root, Description& out);

  private:
    void Error(std::uint64_t line, std::string code, std::string message) {
        m_failed = true;
        m_findings.push_back(
            Finding{Severity::kError, line, std::move(code), std::move(message), {}});
    }

    // Every key of table must be one of allowed: a misspelt key would otherwise be ignored
    // without a word.
    void CheckKeys(const toml::table& table, std::initializer_list<std::string_view> allowed,
                   const std::string& where);
    // The string at key; missing is an error when required. False when absent or not a string.
    bool String(const toml::table& table, std::string_view key, const std::string& where,
                bool required, std::string& out);
    bool StringList(const toml::table& table, std::string_view key, const std::string& where,
                    std::vector<std::string>& out);
    fs::path Resolve(const fs::path& base, const std::string& path) const {
        return (base / fs::path(path)).lexically_normal();
    }
    void ReadRelease(const toml::table& table, std::size_t index, Description& out);
    void ReadPatch(const toml::table& table, const std::string& where, const Description& out,
                   DescribedRelease& release);

    fs::path m_folder;
    const toml::table* m_root = nullptr;
    std::vector<Finding>& m_findings;
    bool m_failed = false;
};

void DescriptionReader::CheckKeys(const toml::table& table,
                                  std::initializer_list<std::string_view> allowed,
                                  const std::string& where) {
    for (auto&& [key, node] : table) {
        if (std::find(allowed.begin(), allowed.end(), key.str()) != allowed.end())
            continue;
        std::string list;
        for (std::string_view name : allowed)
            list += (list.empty() ? "" : ", ") + std::string(name);
        Error(
            key.source().begin.line, "description-key",
            "unknown key '" + std::string(key.str()) + "' in " + where + " (known: " + list + ")");
    }
}

bool DescriptionReader::String(const toml::table& table, std::string_view key,
                               const std::string& where, bool required, std::string& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        if (required)
            Error(MissingKeyLine(table, *m_root), "description-missing",
                  where + " needs '" + std::string(key) + "'");
        return false;
    }
    const std::optional<std::string> value = node->value_exact<std::string>();
    if (!value) {
        Error(LineOf(*node), "description-type",
              "'" + std::string(key) + "' in " + where + " must be a string");
        return false;
    }
    out = *value;
    return true;
}

bool DescriptionReader::StringList(const toml::table& table, std::string_view key,
                                   const std::string& where, std::vector<std::string>& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr)
        return false;
    const toml::array* array = node->as_array();
    if (array == nullptr) {
        Error(LineOf(*node), "description-type",
              "'" + std::string(key) + "' in " + where + " must be a list of strings");
        return false;
    }
    for (const toml::node& item : *array) {
        const std::optional<std::string> value = item.value_exact<std::string>();
        if (!value) {
            Error(LineOf(item), "description-type",
                  "'" + std::string(key) + "' in " + where + " must be a list of strings");
            return false;
        }
        out.push_back(*value);
    }
    return true;
}

bool DescriptionReader::Read(const toml::table& root, Description& out) {
    m_root = &root;
    const std::string where = "the description";
    CheckKeys(root,
              {"base_url", "mirror_urls", "served_folder", "notes_folder", "patcherversion",
               "patcherurl", "release"},
              where);
    if (String(root, "base_url", where, true, out.baseUrl)) {
        if (out.baseUrl.empty() || out.baseUrl.back() != '/') {
            Error(LineOf(*root.get("base_url")), "description-value",
                  "base_url must end in '/': every file's address is base_url followed by its "
                  "path below served_folder");
        }
    }
    if (StringList(root, "mirror_urls", where, out.mirrorUrls)) {
        for (const std::string& mirror : out.mirrorUrls) {
            if (mirror.empty() || mirror.back() != '/' || mirror == out.baseUrl)
                Error(LineOf(*root.get("mirror_urls")), "description-value",
                      "each of mirror_urls must end in '/' and differ from base_url: a file's "
                      "mirror is that address followed by its path below served_folder");
        }
    }
    std::string served = ".";
    String(root, "served_folder", where, false, served);
    out.servedFolder = Resolve(m_folder, served);
    std::string notes;
    if (String(root, "notes_folder", where, false, notes))
        out.notesFolder = Resolve(m_folder, notes);
    // Missing launcher fields are allowed here; the check of the result warns about them.
    String(root, "patcherversion", where, false, out.patcherversion);
    String(root, "patcherurl", where, false, out.patcherurl);

    const toml::node* releases = root.get("release");
    if (releases == nullptr) {
        Error(0, "description-missing",
              "the description names no [[release]]: a catalogue without releases offers "
              "nothing");
    } else if (!releases->is_array_of_tables()) {
        Error(LineOf(*releases), "description-type",
              "'release' must be written as [[release]] tables");
    } else {
        std::size_t index = 0;
        for (const toml::node& release : *releases->as_array())
            ReadRelease(*release.as_table(), index++, out);
    }
    return !m_failed;
}

void DescriptionReader::ReadRelease(const toml::table& table, std::size_t index, Description& out) {
    DescribedRelease release;
    release.line = LineOf(table);
    const std::string where = "release " + std::to_string(index + 1);
    CheckKeys(table, {"name", "latestversion", "executables", "patch"}, where);
    String(table, "name", where, true, release.name);
    String(table, "latestversion", where, true, release.latestversion);

    const toml::node* executables = table.get("executables");
    const toml::array* list = executables != nullptr ? executables->as_array() : nullptr;
    if (executables == nullptr) {
        Error(release.line, "description-missing",
              where + " needs 'executables': the game executables that identify it");
    } else if (list == nullptr) {
        Error(LineOf(*executables), "description-type",
              "'executables' of " + where + " must be a list");
    } else {
        for (const toml::node& item : *list) {
            DescribedExecutable exe;
            exe.line = LineOf(item);
            std::string path;
            if (const auto text = item.value_exact<std::string>()) {
                path = *text;
            } else if (const toml::table* entry = item.as_table()) {
                const std::string entryWhere = "an executable of " + where;
                CheckKeys(*entry, {"path", "exe_id"}, entryWhere);
                String(*entry, "path", entryWhere, true, path);
                String(*entry, "exe_id", entryWhere, false, exe.exeId);
            } else {
                Error(exe.line, "description-type",
                      "an executable of " + where +
                          " is a path, or a table { path = \"...\", exe_id = \"...\" }");
                continue;
            }
            if (path.empty())
                continue;
            exe.path = Resolve(m_folder, path);
            release.executables.push_back(std::move(exe));
        }
    }

    if (const toml::node* patches = table.get("patch")) {
        if (!patches->is_array_of_tables()) {
            Error(LineOf(*patches), "description-type",
                  "the patches of " + where + " must be written as [[release.patch]] tables");
        } else {
            for (const toml::node& patch : *patches->as_array())
                ReadPatch(*patch.as_table(), where, out, release);
        }
    }
    out.releases.push_back(std::move(release));
}

void DescriptionReader::ReadPatch(const toml::table& table, const std::string& releaseWhere,
                                  const Description& out, DescribedRelease& release) {
    DescribedPatch patch;
    patch.line = LineOf(table);
    const std::string where = "a patch of " + releaseWhere;
    CheckKeys(table, {"version", "installer", "folder", "files", "delta"}, where);
    String(table, "version", where, true, patch.version);
    String(table, "installer", where, true, patch.installer);
    std::string folder = "patches/" + patch.version;
    String(table, "folder", where, false, folder);
    patch.folder = Resolve(out.servedFolder, folder);
    StringList(table, "files", where, patch.files);
    if (const toml::node* deltas = table.get("delta")) {
        if (!deltas->is_array_of_tables()) {
            Error(LineOf(*deltas), "description-type",
                  "the deltas of " + where + " must be written as [[release.patch.delta]] tables");
        } else {
            for (const toml::node& node : *deltas->as_array()) {
                const toml::table& entry = *node.as_table();
                const std::string deltaWhere = "a delta of " + where;
                DescribedDelta delta;
                delta.line = LineOf(entry);
                CheckKeys(entry, {"file", "base", "from"}, deltaWhere);
                String(entry, "file", deltaWhere, true, delta.file);
                if (!String(entry, "base", deltaWhere, false, delta.base))
                    delta.base = delta.file;
                std::vector<std::string> from;
                if (!StringList(entry, "from", deltaWhere, from) || from.empty())
                    Error(delta.line, "description-missing",
                          deltaWhere + " needs 'from': the earlier releases' game folders");
                for (const std::string& folder : from)
                    delta.from.push_back(Resolve(m_folder, folder));
                patch.deltas.push_back(std::move(delta));
            }
        }
    }
    release.patches.push_back(std::move(patch));
}

}  // namespace

bool ParseDescription(std::string_view text, const fs::path& file, Description& out,
                      std::vector<Finding>& findings) {
    out = Description{};
    out.file = file;
    toml::parse_result parsed = toml::parse(text, file.string());
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        findings.push_back(Finding{Severity::kError,
                                   error.source().begin.line,
                                   "description-syntax",
                                   "not valid TOML: " + std::string(error.description()),
                                   {}});
        return false;
    }
    DescriptionReader reader(file, findings);
    return reader.Read(parsed.table(), out);
}

bool ReadDescription(const fs::path& file, Description& out, std::vector<Finding>& findings) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad()) {
        findings.push_back(Finding{Severity::kError,
                                   0,
                                   "file-unreadable",
                                   "cannot read the description " + file.string(),
                                   {}});
        return false;
    }
    return ParseDescription(text.str(), file, out, findings);
}
