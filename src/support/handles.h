// One move-only owner for every kind of handle the agent holds. A handle that is not
// wrapped here is borrowed, never owned.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <bcrypt.h>

#include <utility>

namespace velmora {

template <typename Traits>
class Unique {
 public:
  using type = typename Traits::type;
  Unique() noexcept = default;
  explicit Unique(type h) noexcept : h_(h) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& o) noexcept : h_(o.release()) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~Unique() { reset(); }

  type get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
  type release() noexcept { return std::exchange(h_, Traits::invalid()); }
  void reset(type h = Traits::invalid()) noexcept {
    const type old = std::exchange(h_, h);
    if (old != Traits::invalid()) Traits::close(old);
  }

 private:
  type h_ = Traits::invalid();
};

struct InternetTraits {
  using type = HINTERNET;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { InternetCloseHandle(h); }
};
// A WinINet handle whose close can wait on a server (an FTP connection says goodbye and
// waits for the answer): closed off the window's thread, see offthread.h.
struct NetworkTraits {
  using type = HINTERNET;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept;
};
struct FileTraits {
  using type = HANDLE;
  static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { CloseHandle(h); }
};
struct KernelTraits {
  using type = HANDLE;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { CloseHandle(h); }
};
// A file search (FindFirstFileW), closed by its own call.
struct FindTraits {
  using type = HANDLE;
  static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { FindClose(h); }
};
struct GlobalTraits {
  using type = HGLOBAL;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { GlobalFree(h); }
};
// Memory the system hands out with LocalAlloc (CryptProtectData's output).
struct LocalTraits {
  using type = HLOCAL;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { LocalFree(h); }
};
struct KeyTraits {
  using type = HKEY;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { RegCloseKey(h); }
};
struct IconTraits {
  using type = HICON;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { DestroyIcon(h); }
};
struct MenuTraits {
  using type = HMENU;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { DestroyMenu(h); }
};
struct FontTraits {
  using type = HFONT;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { DeleteObject(h); }
};

struct HashAlgorithmTraits {
  using type = BCRYPT_ALG_HANDLE;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using type = BCRYPT_HASH_HANDLE;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { BCryptDestroyHash(h); }
};

struct WindowTraits {
  using type = HWND;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { DestroyWindow(h); }
};

using UniqueInternet = Unique<InternetTraits>;
using UniqueNetwork = Unique<NetworkTraits>;
using UniqueFile = Unique<FileTraits>;
using UniqueHandle = Unique<KernelTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueGlobal = Unique<GlobalTraits>;
using UniqueKey = Unique<KeyTraits>;
using UniqueLocal = Unique<LocalTraits>;
using UniqueIcon = Unique<IconTraits>;
using UniqueMenu = Unique<MenuTraits>;
using UniqueFont = Unique<FontTraits>;
using UniqueWindow = Unique<WindowTraits>;
using UniqueHashAlgorithm = Unique<HashAlgorithmTraits>;
using UniqueHash = Unique<HashTraits>;

}  // namespace velmora
