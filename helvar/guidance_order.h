// The guidance order: what a medication guidance sheet is made from (the prescription key sent
// to the gateway server, the patient line, the dispensing date and the drugs with their
// directions), and the collectors that fill it from each pharmacy program: PM2000's database,
// the UBcare program's library, and the request data that OnPharm and OptiPharm send.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "helvar/request.h"

namespace helvar {

class CPm2000Db;
class CUpharmBinding;

struct GuidanceDrug {
  std::string code;
  std::string direction;  // how to take it (CP949)
};

struct GuidanceOrder {
  static constexpr size_t kMaxDrugs = 100;  // further drugs are ignored

  std::string key;           // the prescription key sent to the server
  std::string patient_line;  // printed in large letters (CP949)
  std::string date;          // the dispensing date as year.month.day
  std::vector<GuidanceDrug> drugs;

  // Adds a drug unless the order is full.
  void AddDrug(std::string code, std::string direction);
  // Keeps the eight digits of year, month and day as "YYYY.MM.DD".
  void SetDate(std::string_view digits);
};

// A local calendar date.
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};
CalendarDate TodayDate();  // by the system clock

// --- PM2000 (request data: the prescription serial) ---

// Fills `order` from the query rows of `db` (columns SUB_SERIAL, OLD, Paname, PANUM, DrugCode,
// WAY): the patient line from the first row, or from `aux2` ("세세" made "세") when it has no
// name; key the serial, the date its first 8 characters, one drug per row.
void FillPm2000Order(const CPm2000Db& db, std::string_view serial, std::string_view aux2,
                     GuidanceOrder* order);

// --- UBcare (the prescription through the program's library) ---

// Age in full years on `today` of someone born on `birth`.
int FullYears(CalendarDate birth, CalendarDate today);
// Reads the prescription `key` from the library (open): patient name, birth date and sex text
// from items 4, 5 and 6, drugs from item 11 on; the date is `today`. A prescription the library
// does not find writes the record "Helvar" "UpharmGetPst FALSE" and leaves an order without
// drugs.
void CollectUbcareOrder(const CUpharmBinding& upharm, std::string_view key, CalendarDate today,
                        GuidanceOrder* order);

// --- OnPharm and OptiPharm (everything in the request data, fields split at FS) ---

// name + "님" + "(만 %d세/%s)" by the seventh character of the resident number ("1"/"2" born in
// the 1900s, "3"/"4" in the 2000s; male "남" for odd, female "여" for even); any other character
// gives the name and "님" alone.
std::string ResidentPatientLine(std::string_view name, std::string_view resident_number,
                                int current_year);
// Fields 4 name, 5 resident number, 6 date, 7 key ("-" removed), 29 drug count, 30 the drugs in
// groups of seven "|"-separated fields (code in the group's field 1, direction in field 3).
void CollectRequestOrder(std::string_view data, int current_year, GuidanceOrder* order);

}  // namespace helvar
