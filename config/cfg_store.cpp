// Colour-file store: line parsing as the skin files are written (see cfg_store.h).
#include "config/cfg_store.h"

#include <cstdio>
#include <cstring>

CfgStore::CfgStore(unsigned size_hint) : table_(hash_init(size_hint)) {}

CfgStore::~CfgStore() {
    hash_destroy(table_, nullptr, nullptr, nullptr);
}

void CfgStore::add(std::string key, std::string value) {
    if (auto* existing = static_cast<Entry*>(hash_get(table_, key.data(), key.size()))) {
        existing->values.push_back(std::move(value));
        return;
    }
    auto entry = std::make_unique<Entry>();
    entry->key = std::move(key);
    entry->values.push_back(std::move(value));
    hash_add(table_, entry->key.data(), entry->key.size(), entry.get());
    entries_.push_back(std::move(entry));
}

bool CfgStore::load(const std::string& path) {
    FILE* fp = std::fopen(path.c_str(), "r");
    if (!fp)
        return false;
    // A line longer than the buffer is read on as the next line, as the files have always been read.
    char buf[4096];
    while (std::fgets(buf, sizeof buf, fp)) {
        size_t len = std::strlen(buf);
        while (len > 0 && (buf[len - 1] == '\r' || buf[len - 1] == '\n'))
            buf[--len] = '\0';
        if (len == 0)
            continue;
        const char* p = buf;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '#' || *p == ';')
            continue;
        const char* key_end = p;
        while (*key_end && *key_end != ' ' && *key_end != '\t' && *key_end != '=')
            ++key_end;
        std::string key(p, key_end);
        const char* v = *key_end ? key_end + 1 : key_end; // drop the one separator
        while (*v == ' ' || *v == '\t')
            ++v;
        const char* v_end = buf + len;
        while (v_end > v && (v_end[-1] == ' ' || v_end[-1] == '\t'))
            --v_end;
        add(std::move(key), std::string(v, v_end));
    }
    std::fclose(fp);
    return true;
}

const std::vector<std::string>* CfgStore::values(const std::string& key) const {
    auto* e = static_cast<const Entry*>(hash_get(table_, key.data(), key.size()));
    return e ? &e->values : nullptr;
}

bool CfgStore::get(const std::string& key, std::string& out, const std::string& def) const {
    const std::vector<std::string>* v = values(key);
    if (!v) {
        out = def;
        return false;
    }
    out = v->front();
    return true;
}
