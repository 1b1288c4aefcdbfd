#include "pack/edition_check.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace package {

namespace {

// Windows file names match without regard to ASCII letter case.
std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::vector<std::string> CheckEditionEntries(const PackageContents& edition, const std::vector<EntrySource>& sources) {
    std::map<std::string, const char*> byFolded;  // folded name -> the edition's own spelling
    for (const char* entry : edition.entries) byFolded[Folded(entry)] = entry;

    std::vector<std::string> problems;
    std::map<std::string, const EntrySource*> given;
    std::set<std::string> accountedFor;  // the edition's entries given, in any spelling
    for (const EntrySource& source : sources) {
        const std::string who = Quoted(source.name) + " (" + source.path + ")";
        const auto first = given.emplace(source.name, &source);
        if (!first.second) {
            problems.push_back(Quoted(source.name) + " is given twice: " + first.first->second->path + " and " +
                               source.path);
            continue;
        }
        const auto known = byFolded.find(Folded(source.name));
        if (known == byFolded.end()) {
            problems.push_back(who + " is not an entry of the " + edition.edition + " package");
        } else {
            accountedFor.insert(known->second);
            if (source.name != known->second) {
                problems.push_back(who + " differs only in letter case from the entry " + Quoted(known->second));
            }
        }
        if (source.size == 0) problems.push_back(who + " is empty");
    }
    for (const char* entry : edition.entries) {
        if (accountedFor.count(entry) == 0) {
            problems.push_back(std::string("the ") + edition.edition + " package lacks " + Quoted(entry));
        }
    }
    return problems;
}

std::vector<PackEntry> InStoredOrder(const PackageContents& edition, std::vector<PackEntry> entries) {
    std::vector<PackEntry> ordered;
    ordered.reserve(entries.size());
    for (const char* name : edition.entries) {
        const auto it =
            std::find_if(entries.begin(), entries.end(), [&](const PackEntry& entry) { return entry.name == name; });
        if (it != entries.end()) ordered.push_back(std::move(*it));
    }
    return ordered;
}

}  // namespace package
