#include "helvar/upharm_binding.h"

#include <cstring>
#include <vector>

#include "helvar/helvar_log.h"

namespace helvar {
namespace {

template <typename Fn>
bool Find(const platform::Library& library, std::string_view name, Fn* out) {
  *out = reinterpret_cast<Fn>(library.Symbol(name));
  return *out != nullptr;
}

std::string Fill(int (*fn)(int, char*), int index) {
  if (fn == nullptr) return {};
  std::vector<char> buffer(CUpharmBinding::kDataSize + 1, '\0');
  if (fn(index, buffer.data()) == 0) return {};
  return std::string(buffer.data(), strnlen(buffer.data(), CUpharmBinding::kDataSize));
}

}  // namespace

bool CUpharmBinding::Load(std::string_view install_dir) {
  const std::string path = std::string(install_dir) + "\\UpharmMD.dll";
  std::unique_ptr<platform::Library> library = platform::Library::Load(path);
  if (library == nullptr) {
    WriteLog("UpharmDatabaseOpen", "DB UpharmMD fail");
    return false;
  }
  const bool complete = Find(*library, "UpharmSetLog", &set_log_) &&
                        Find(*library, "UpharmOpen", &open_) &&
                        Find(*library, "UpharmClose", &close_) &&
                        Find(*library, "UpharmGetCustList", &get_cust_list_) &&
                        Find(*library, "UpharmArrCustList", &arr_cust_list_) &&
                        Find(*library, "UpharmGetCustData", &get_cust_data_) &&
                        Find(*library, "UpharmGetPst", &get_pst_) &&
                        Find(*library, "UpharmArrPstData", &arr_pst_data_) &&
                        Find(*library, "UpharmGetPstData", &get_pst_data_);
  if (!complete) {
    WriteLog("UpharmDatabaseOpen", "UpharmMD lacks a function");
    Forget();
    return false;
  }
  library_ = std::move(library);
  return true;
}

void CUpharmBinding::Forget() {
  set_log_ = open_ = arr_cust_list_ = arr_pst_data_ = nullptr;
  close_ = nullptr;
  get_cust_list_ = nullptr;
  get_cust_data_ = get_pst_data_ = nullptr;
  get_pst_ = nullptr;
}

int CUpharmBinding::SetLog(int on) const { return set_log_ ? set_log_(on) : 0; }
int CUpharmBinding::Open(int mode) const { return open_ ? open_(mode) : 0; }
int CUpharmBinding::GetCustList(const std::string& from_date, const std::string& to_date) const {
  return get_cust_list_ ? get_cust_list_(from_date.c_str(), to_date.c_str()) : 0;
}
int CUpharmBinding::ArrCustList(int index) const {
  return arr_cust_list_ ? arr_cust_list_(index) : 0;
}
std::string CUpharmBinding::GetCustData(int index) const { return Fill(get_cust_data_, index); }
int CUpharmBinding::GetPst(const std::string& key) const {
  return get_pst_ ? get_pst_(key.c_str()) : 0;
}
int CUpharmBinding::ArrPstData(int index) const { return arr_pst_data_ ? arr_pst_data_(index) : 0; }
std::string CUpharmBinding::GetPstData(int index) const { return Fill(get_pst_data_, index); }

}  // namespace helvar
