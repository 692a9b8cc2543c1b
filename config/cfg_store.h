// Key/value store built from one text file of "key=value" or "key value" lines; a key may repeat and keeps
// its values in file order. Short-lived: built, read, dropped.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "components/hash.h"

class CfgStore {
public:
    explicit CfgStore(unsigned size_hint = 120);
    ~CfgStore();
    CfgStore(const CfgStore&) = delete;
    CfgStore& operator=(const CfgStore&) = delete;

    // Reads the file; false when it cannot be opened.
    bool load(const std::string& path);

    // Copies the first value of `key` into `out` and returns true, or copies `def` and returns false.
    bool get(const std::string& key, std::string& out, const std::string& def) const;

    // All values of a key in file order (empty when absent).
    const std::vector<std::string>* values(const std::string& key) const;

    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::string key;
        std::vector<std::string> values;
    };
    void add(std::string key, std::string value);

    HHASH table_;
    std::vector<std::unique_ptr<Entry>> entries_; // in order of first appearance; owns the entries
};
