// An in-memory registry for tests of the settings store: keys by path under HKEY_CURRENT_USER,
// values in the order they were first written, names compared without regard to case as the
// Windows registry does. Opened keys are tracked so tests can see every key closed again, and
// single operations can be made to fail.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/registry.h"

class FakeRegistry final : public IRegistry {
  public:
    struct Value {
        std::string name;
        std::uint32_t type = kRegNone;
        std::string data;
    };

    // --- arranging and inspecting the store (paths relative to HKEY_CURRENT_USER) ---
    bool HasKey(const std::string& path) const { return keys_.count(Lower(path)) != 0; }
    void AddKey(const std::string& path) { Ensure(Lower(path)); }
    void RemoveKey(const std::string& path) {
        std::string lower = Lower(path);
        for (auto it = keys_.begin(); it != keys_.end();) {
            if (it->first == lower || it->first.rfind(lower + "\\", 0) == 0) {
                it = keys_.erase(it);
            } else {
                ++it;
            }
        }
    }
    void Put(const std::string& path, const std::string& name, std::uint32_t type,
             const std::string& data) {
        Store(Ensure(Lower(path)), name, type, data);
    }
    void PutDword(const std::string& path, const std::string& name, std::uint32_t value) {
        Put(path, name, kRegDword, Dword(value));
    }
    void PutString(const std::string& path, const std::string& name, const std::string& text,
                   std::uint32_t type = kRegSz) {
        Put(path, name, type, text + std::string(1, '\0'));
    }
    void Remove(const std::string& path, const std::string& name) {
        auto key = keys_.find(Lower(path));
        if (key != keys_.end()) {
            auto& values = key->second;
            values.erase(
                std::remove_if(values.begin(), values.end(),
                               [&](const Value& v) { return Lower(v.name) == Lower(name); }),
                values.end());
        }
    }
    const Value* Find(const std::string& path, const std::string& name) const {
        auto key = keys_.find(Lower(path));
        if (key == keys_.end()) {
            return nullptr;
        }
        for (const auto& v : key->second) {
            if (SameName(v.name, name)) {
                return &v;
            }
        }
        return nullptr;
    }
    std::vector<Value> Values(const std::string& path) const {
        auto key = keys_.find(Lower(path));
        return key == keys_.end() ? std::vector<Value>{} : key->second;
    }
    std::vector<std::string> ValueNames(const std::string& path) const {
        std::vector<std::string> names;
        for (const auto& v : Values(path)) {
            names.push_back(v.name);
        }
        return names;
    }

    // --- failures ---
    void FailSetValue(const std::string& name) { failSet_.insert(Lower(name)); }
    void FailCreateKey(const std::string& path) { failCreate_.insert(Lower(path)); }

    std::size_t OpenHandles() const { return handles_.size(); }
    std::vector<std::string> WrittenNames() const { return written_; }

    static std::string Dword(std::uint32_t value) {
        std::string data(4, '\0');
        for (int i = 0; i < 4; ++i) {
            data[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
        }
        return data;
    }

    // --- IRegistry ---
    bool OpenKey(TRegKey parent, const std::string& path, TRegKey& key) override {
        std::string full = Resolve(parent, path);
        if (full.empty() || !keys_.count(full)) {
            return false;
        }
        key = NewHandle(full);
        return true;
    }
    bool CreateKey(TRegKey parent, const std::string& path, TRegKey& key) override {
        std::string full = Resolve(parent, path);
        if (full.empty() || failCreate_.count(full)) {
            return false;
        }
        Ensure(full);
        key = NewHandle(full);
        return true;
    }
    bool QueryValue(TRegKey key, const std::string& name, std::uint32_t& type,
                    std::string& data) override {
        auto handle = handles_.find(key);
        if (handle == handles_.end() || !keys_.count(handle->second)) {
            return false;
        }
        const Value* v = Find(handle->second, name);
        if (v == nullptr) {
            return false;
        }
        type = v->type;
        data = v->data;
        return true;
    }
    bool SetValue(TRegKey key, const std::string& name, std::uint32_t type,
                  const std::string& data) override {
        auto handle = handles_.find(key);
        if (handle == handles_.end() || !keys_.count(handle->second) ||
            failSet_.count(Lower(name))) {
            return false;
        }
        written_.push_back(name);
        Store(keys_[handle->second], name, type, data);
        return true;
    }
    void CloseKey(TRegKey key) override { handles_.erase(key); }

  private:
    static std::string Lower(std::string s) {
        for (auto& c : s) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return s;
    }

    static bool SameName(const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    }

    std::string Resolve(TRegKey parent, const std::string& path) const {
        if (parent == kRegCurrentUser) {
            return Lower(path);
        }
        auto handle = handles_.find(parent);
        if (handle == handles_.end()) {
            return {};
        }
        return path.empty() ? handle->second : handle->second + "\\" + Lower(path);
    }

    std::vector<Value>& Ensure(const std::string& lowerPath) {
        for (std::size_t pos = lowerPath.find('\\'); pos != std::string::npos;
             pos = lowerPath.find('\\', pos + 1)) {
            keys_[lowerPath.substr(0, pos)];
        }
        return keys_[lowerPath];
    }

    static void Store(std::vector<Value>& values, const std::string& name, std::uint32_t type,
                      const std::string& data) {
        for (auto& v : values) {
            if (SameName(v.name, name)) {
                v.type = type;
                v.data = data;
                return;
            }
        }
        values.push_back({name, type, data});
    }

    TRegKey NewHandle(const std::string& path) {
        TRegKey handle = nextHandle_;
        nextHandle_ += 4;
        handles_[handle] = path;
        return handle;
    }

    std::map<std::string, std::vector<Value>> keys_;
    std::map<TRegKey, std::string> handles_;
    TRegKey nextHandle_ = 0x1000;
    std::set<std::string> failSet_;
    std::set<std::string> failCreate_;
    std::vector<std::string> written_;
};
