// Separate-chaining hash table over byte keys (FNV-1a), doubling when the load passes one.
#include "components/hash.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

struct Node {
    Node* next;
    uint64_t hash;
    void* value;
    size_t key_len;
    std::unique_ptr<unsigned char[]> key;
};

uint64_t fnv1a(const void* key, size_t len) {
    auto* p = static_cast<const unsigned char*>(key);
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < len; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

size_t round_up_pow2(size_t n) {
    size_t p = 8;
    while (p < n && p < (size_t(1) << 30))
        p <<= 1;
    return p;
}

} // namespace

struct hash_table {
    std::vector<Node*> buckets;
    size_t count = 0;

    Node** find_slot(const void* key, size_t len, uint64_t h) {
        Node** slot = &buckets[h & (buckets.size() - 1)];
        while (*slot) {
            Node* n = *slot;
            if (n->hash == h && n->key_len == len && (len == 0 || std::memcmp(n->key.get(), key, len) == 0))
                return slot;
            slot = &n->next;
        }
        return slot;
    }

    void grow() {
        std::vector<Node*> bigger(buckets.size() * 2, nullptr);
        for (Node* head : buckets) {
            while (head) {
                Node* next = head->next;
                Node*& b = bigger[head->hash & (bigger.size() - 1)];
                head->next = b;
                b = head;
                head = next;
            }
        }
        buckets.swap(bigger);
    }

    ~hash_table() {
        for (Node* head : buckets) {
            while (head) {
                Node* next = head->next;
                delete head;
                head = next;
            }
        }
    }
};

HHASH hash_init(unsigned size_hint) {
    auto* t = new (std::nothrow) hash_table;
    if (!t)
        return nullptr;
    t->buckets.assign(round_up_pow2(size_hint), nullptr);
    return t;
}

int hash_add(HHASH table, const void* key, size_t key_len, void* value) {
    if (!table || (!key && key_len))
        return 0;
    uint64_t h = fnv1a(key, key_len);
    Node** slot = table->find_slot(key, key_len, h);
    if (*slot) {
        (*slot)->value = value;
        return 1;
    }
    auto* n = new Node{nullptr, h, value, key_len, std::make_unique<unsigned char[]>(key_len ? key_len : 1)};
    if (key_len)
        std::memcpy(n->key.get(), key, key_len);
    *slot = n;
    if (++table->count > table->buckets.size())
        table->grow();
    return 1;
}

void* hash_get(HHASH table, const void* key, size_t key_len) {
    if (!table || (!key && key_len))
        return nullptr;
    Node* n = *table->find_slot(key, key_len, fnv1a(key, key_len));
    return n ? n->value : nullptr;
}

void* hash_remove(HHASH table, const void* key, size_t key_len) {
    if (!table || (!key && key_len))
        return nullptr;
    Node** slot = table->find_slot(key, key_len, fnv1a(key, key_len));
    Node* n = *slot;
    if (!n)
        return nullptr;
    *slot = n->next;
    void* value = n->value;
    delete n;
    --table->count;
    return value;
}

size_t hash_count(HHASH table) {
    return table ? table->count : 0;
}

void hash_destroy(HHASH table, void*, void*, void*) {
    delete table;
}
