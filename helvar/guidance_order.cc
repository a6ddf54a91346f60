#include "helvar/guidance_order.h"

#include <algorithm>
#include <cstdio>

#include "helvar/helvar_log.h"
#include "helvar/pm2000_db.h"
#include "helvar/upharm_binding.h"
#include "platform/clock.h"
#include "protocol/frame.h"

namespace helvar {
namespace {

constexpr size_t kDateDigits = 8;

// PM2000's guidance rows.
constexpr size_t kOldColumn = 1;
constexpr size_t kNameColumn = 2;
constexpr size_t kDrugCodeColumn = 4;
constexpr size_t kWayColumn = 5;

// UBcare's prescription items.
constexpr int kUbcareNameItem = 4;
constexpr int kUbcareBirthItem = 5;
constexpr int kUbcareSexItem = 6;
constexpr int kUbcareFirstDrugItem = 11;
constexpr int kUbcareMaxItems = kUbcareFirstDrugItem + static_cast<int>(GuidanceOrder::kMaxDrugs);

// OnPharm's and OptiPharm's request fields.
constexpr size_t kRequestNameField = 4;
constexpr size_t kRequestResidentField = 5;
constexpr size_t kRequestDateField = 6;
constexpr size_t kRequestKeyField = 7;
constexpr size_t kRequestCountField = 29;
constexpr size_t kRequestDrugsField = 30;
constexpr size_t kRequestFields = kRequestDrugsField + 1;
constexpr size_t kDrugGroupFields = 7;
constexpr size_t kDrugGroupCodeField = 1;
constexpr size_t kDrugGroupDirectionField = 3;
constexpr size_t kResidentSexCharacter = 6;  // the seventh

std::string_view At(const std::vector<std::string_view>& fields, size_t index) {
  return index < fields.size() ? fields[index] : std::string_view();
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The decimal number of `text` (digits only), or `fallback`.
int Number(std::string_view text, int fallback) {
  if (text.empty() || text.size() > 9) return fallback;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

void GuidanceOrder::AddDrug(std::string code, std::string direction) {
  if (drugs.size() < kMaxDrugs) drugs.push_back({std::move(code), std::move(direction)});
}

void GuidanceOrder::SetDate(std::string_view digits) {
  digits = digits.substr(0, kDateDigits);
  if (digits.size() < kDateDigits) {
    date = std::string(digits);  // too short to dot: kept as it came
    return;
  }
  date = std::string(digits.substr(0, 4)) + "." + std::string(digits.substr(4, 2)) + "." +
         std::string(digits.substr(6, 2));
}

CalendarDate TodayDate() {
  const std::string today = platform::SystemClock().LocalDate();  // yyyymmdd
  const std::string_view t = today;
  return {Number(t.substr(0, 4), 0), Number(t.substr(4, 2), 0), Number(t.substr(6, 2), 0)};
}

void FillPm2000Order(const CPm2000Db& db, std::string_view serial, std::string_view aux2,
                     GuidanceOrder* order) {
  const std::string name = db.ValueText(0, kNameColumn);
  if (!name.empty()) {
    const std::string old = db.ValueText(0, kOldColumn);
    order->patient_line =
        name + Cp949("님") +
        (old.empty() ? Cp949("   (주민번호 미등록)") : Cp949(" (만 ") + old + Cp949("세)"));
  } else {
    order->patient_line = ReplaceAll(std::string(aux2), Cp949("세세"), Cp949("세"));
  }
  order->key = std::string(serial);
  order->SetDate(serial);
  for (size_t row = 0; row < db.row_count(); ++row) {
    order->AddDrug(db.ValueText(row, kDrugCodeColumn), db.ValueText(row, kWayColumn));
  }
}

int FullYears(CalendarDate birth, CalendarDate today) {
  int years = today.year - birth.year;
  if (today.month < birth.month || (today.month == birth.month && today.day < birth.day)) {
    --years;
  }
  return years;
}

void CollectUbcareOrder(const CUpharmBinding& upharm, std::string_view key, CalendarDate today,
                        GuidanceOrder* order) {
  order->key = std::string(key);
  if (upharm.GetPst(std::string(key)) == 0) WriteLog("Helvar", "UpharmGetPst FALSE");
  std::string name;
  std::string birth;
  std::string sex;
  for (int i = 0; i < kUbcareMaxItems && upharm.ArrPstData(i) == 1; ++i) {
    const std::string item = upharm.GetPstData(i);
    if (i == kUbcareNameItem) name = item;
    if (i == kUbcareBirthItem) birth = item;
    if (i == kUbcareSexItem) sex = item;
    if (i >= kUbcareFirstDrugItem) {
      const std::vector<std::string_view> fields = protocol::SplitAll(item, protocol::kFs);
      order->AddDrug(std::string(At(fields, 0)), std::string(At(fields, 1)));
    }
  }
  // The birth date as "YYYY-MM-DD": year in characters 0-3, month 5-6, day 8-9.
  const std::string_view b = birth;
  const CalendarDate born{Number(b.substr(0, 4), today.year),
                          Number(b.substr(std::min<size_t>(5, b.size()), 2), 1),
                          Number(b.substr(std::min<size_t>(8, b.size()), 2), 1)};
  char age[16];
  std::snprintf(age, sizeof age, "%02d", FullYears(born, today));
  order->patient_line = name + Cp949("님(만") + age + Cp949("세/") + sex + ")";
  char date[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d", today.year, today.month, today.day);
  order->SetDate(date);
}

std::string ResidentPatientLine(std::string_view name, std::string_view resident_number,
                                int current_year) {
  std::string line = std::string(name) + Cp949("님");
  if (resident_number.size() <= kResidentSexCharacter) return line;
  const char kind = resident_number[kResidentSexCharacter];
  if (kind < '1' || kind > '4') return line;
  const int century = kind <= '2' ? 1900 : 2000;
  const int born = Number(resident_number.substr(0, 2), 0);
  const std::string sex = Cp949(kind == '1' || kind == '3' ? "남" : "여");
  return line + Cp949("(만 ") + std::to_string(current_year - century - born) + Cp949("세/") + sex +
         ")";
}

void CollectRequestOrder(std::string_view data, int current_year, GuidanceOrder* order) {
  const std::vector<std::string_view> fields = protocol::SplitAll(data, protocol::kFs);
  order->patient_line = ResidentPatientLine(At(fields, kRequestNameField),
                                            At(fields, kRequestResidentField), current_year);
  order->SetDate(At(fields, kRequestDateField));
  order->key = std::string(At(fields, kRequestKeyField));
  std::erase(order->key, '-');
  if (fields.size() < kRequestFields) return;
  const int count = Number(At(fields, kRequestCountField), 0);
  const std::vector<std::string_view> items =
      protocol::SplitAll(At(fields, kRequestDrugsField), '|');
  // As many drugs as the count says and the groups hold.
  for (size_t drug = 0; drug < static_cast<size_t>(count); ++drug) {
    const size_t group = drug * kDrugGroupFields;
    if (group + kDrugGroupDirectionField >= items.size()) break;
    order->AddDrug(std::string(items[group + kDrugGroupCodeField]),
                   std::string(items[group + kDrugGroupDirectionField]));
  }
}

}  // namespace helvar
