// The UBcare library binding: "<install dir>\UpharmMD.dll" loaded for one request with every
// function the system uses looked up by name. A library that lacks any of them is not used.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace helvar {

class CUpharmBinding {
 public:
  // The room of the buffers the library fills (its interface fixes it).
  static constexpr int kDataSize = 4096;

  CUpharmBinding() = default;
  CUpharmBinding(const CUpharmBinding&) = delete;
  CUpharmBinding& operator=(const CUpharmBinding&) = delete;

  // Loads the library from the installation directory (or, failing that, where our libraries
  // are found) and looks its functions up. A library that cannot be loaded writes the record
  // "UpharmDatabaseOpen" "DB UpharmMD fail". False when it cannot be loaded or lacks a function.
  bool Load(std::string_view install_dir);
  bool loaded() const { return library_ != nullptr; }

  // The library's functions; each gives 0 when the library is not loaded.
  int SetLog(int on) const;
  int Open(int mode) const;
  int GetCustList(const std::string& from_date, const std::string& to_date) const;
  int ArrCustList(int index) const;
  // The customer's FS-separated fields; empty when the library gives none.
  std::string GetCustData(int index) const;
  int GetPst(const std::string& key) const;
  int ArrPstData(int index) const;
  std::string GetPstData(int index) const;

 private:
  using IntFn = int (*)(int);
  using DatesFn = int (*)(const char*, const char*);
  using DataFn = int (*)(int, char*);
  using KeyFn = int (*)(const char*);
  using VoidFn = int (*)();

  void Forget();

  std::unique_ptr<platform::Library> library_;
  IntFn set_log_ = nullptr;
  IntFn open_ = nullptr;
  VoidFn close_ = nullptr;  // looked up with the others; never called
  DatesFn get_cust_list_ = nullptr;
  IntFn arr_cust_list_ = nullptr;
  DataFn get_cust_data_ = nullptr;
  KeyFn get_pst_ = nullptr;
  IntFn arr_pst_data_ = nullptr;
  DataFn get_pst_data_ = nullptr;
};

}  // namespace helvar
