// Hash table with byte keys of any length and caller-owned value pointers.
#pragma once

#include <cstddef>

struct hash_table;
using HHASH = hash_table*;

// Creates a table sized for about `size_hint` entries; it grows as needed. Null when out of memory.
HHASH hash_init(unsigned size_hint);

// Maps the key bytes to `value`. The key is copied, so the caller's buffer may change afterwards.
// An existing key gets the new value. Returns 1 on success, 0 for a null table or key.
int hash_add(HHASH table, const void* key, size_t key_len, void* value);

// The value stored for the key, or null when the key is absent.
void* hash_get(HHASH table, const void* key, size_t key_len);

// Removes the key; returns its value, or null when it was absent.
void* hash_remove(HHASH table, const void* key, size_t key_len);

// Number of keys in the table.
size_t hash_count(HHASH table);

// Frees the table and its keys, never the values. The three trailing arguments are reserved (pass 0).
void hash_destroy(HHASH table, void* reserved1, void* reserved2, void* reserved3);
