// Customer lists for the terminal: today's prescriptions and the pharmacy's customers, answered
// as gateway frames of fixed-width records in packed digits, from which the cashier picks the
// customer of a payment.
//
// Short record (28 bytes): key (10 packed bytes of the text right-aligned in 20), name (8
// bytes), date (3 packed bytes of the first 6 characters), number (6 packed bytes of the text
// right-aligned in 12), FS.
// Long record (56 bytes): the first 27 bytes of the short one, 12 zero digits packed, the fifth
// text right-aligned in 24 characters and filled with "F" (12 packed bytes), 20 zero digits
// packed, FS.
//
// Answer frame: STX "TavenorGateway" "XX" <length, 4 digits> "TRM" <answer code> FS <records,
// 2 digits> FS <records> ETX <check byte>; the length counts STX through ETX.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "helvar/request.h"

namespace helvar {

class CWorkContext;

// Packs a text two characters per byte, high half first: "0"-"9" and "A"-"F" (either case)
// count by their value, any other character (a space) as 0. An odd last character is the high
// half of a last byte.
std::string PackDigits(std::string_view text);

// `text` right-aligned in `width` characters, filled on the left with `fill`; a longer text is
// cut to its first `width` characters.
std::string RightAligned(std::string_view text, size_t width, char fill);

std::string ShortCustomerRecord(std::string_view key, std::string_view name, std::string_view date,
                                std::string_view number);
std::string LongCustomerRecord(std::string_view key, std::string_view name, std::string_view date,
                               std::string_view number, std::string_view fifth);

// The PM2000 answers' check byte: the exclusive-or of `bytes` (those after STX through ETX),
// with bit 0x20 then set.
unsigned char Pm2000CheckByte(std::string_view bytes);

// Which check byte closes a frame: Helvar's own (PM2000 answers) or the utility library's.
enum class CheckKind { kPm2000, kUtil };

// The frame of `records` under `answer_code` (811, 881, 821); at most 99 records fit the
// count field, further ones are left out (logged).
std::string CustomerListFrame(int answer_code, const std::vector<std::string>& records,
                              CheckKind check);
// "   선택가능한    고객이 없습니다." under `answer_code`.
std::string NoCustomerFrame(int answer_code, CheckKind check);
// "   PM2000연동    장애 발생!  " under `answer_code`.
std::string Pm2000FailureFrame(int answer_code);

// Handlers. 200-202 and 250-252: the PM2000 customers through the database writer's
// LoadUserList, as short records under "811" or long ones under "881".
int Pm2000CustomerList(CWorkContext& context, const Request& request);
// 300-302 with PM2000: today's prescriptions of active customers (at most 30) under "821".
int Pm2000Prescriptions(CWorkContext& context, const Request& request);
// 300-302 with UBcare: the day's customers through UpharmMD under "821", at most 29, the last
// of the library's list first.
int UbcareCustomers(CWorkContext& context, const Request& request);

}  // namespace helvar
