// The fixed texts that the hub prints on the terminal: CP949 bytes, as the printer takes them,
// each with its reading above it. The spacing inside a label is exact: the pharmacy programs'
// bills tell their labels apart by their spaces alone.
#pragma once

#include <string_view>

namespace hub::payments {

// Control bytes with a meaning in print text.
inline constexpr char kLf = 0x0A;   // ends a line
inline constexpr char kCr = 0x0D;   // turned into LF where texts arrive with CR LF
inline constexpr char kSo = 0x0E;   // starts a highlighted stretch (titles, amounts, copy labels)
inline constexpr char kSi = 0x0F;   // ends it
inline constexpr char kEsc = 0x1B;  // ESC "i": paper cut inside a bill text
inline constexpr char kRs = 0x1E;   // opens the identity block
inline constexpr char kUs = 0x1F;   // closes it

inline constexpr std::string_view kSixSpaces = "      ";

}  // namespace hub::payments

namespace hub::payments::texts {

// The identity block of a rewritten bill.
// "사업자번호 : "
inline constexpr std::string_view kIdBusinessNumber = "\xBB\xE7\xBE\xF7\xC0\xDA\xB9\xF8\xC8\xA3 : ";
// "상      호 : "
inline constexpr std::string_view kIdTradeName = "\xBB\xF3      \xC8\xA3 : ";
// "성      명 : "
inline constexpr std::string_view kIdOwnerName = "\xBC\xBA      \xB8\xED : ";

// The labels by which the bill rules know the lines of each pharmacy program.
// "상      호"
inline constexpr std::string_view kTradeName6 = "\xBB\xF3      \xC8\xA3";
// "상        호"
inline constexpr std::string_view kTradeName8 = "\xBB\xF3        \xC8\xA3";
// "상          호"
inline constexpr std::string_view kTradeName10 = "\xBB\xF3          \xC8\xA3";
// "상  호"
inline constexpr std::string_view kTradeName2 = "\xBB\xF3  \xC8\xA3";
// "상호 :"
inline constexpr std::string_view kTradeNameColon = "\xBB\xF3\xC8\xA3 :";
// "상호           :"
inline constexpr std::string_view kTradeNameWideColon = "\xBB\xF3\xC8\xA3           :";
// "약국명"
inline constexpr std::string_view kPharmacyName = "\xBE\xE0\xB1\xB9\xB8\xED";
// "사업자등록번호"
inline constexpr std::string_view kRegistrationNumber =
    "\xBB\xE7\xBE\xF7\xC0\xDA\xB5\xEE\xB7\xCF\xB9\xF8\xC8\xA3";
// "사업자등록번호 :"
inline constexpr std::string_view kRegistrationNumberColon =
    "\xBB\xE7\xBE\xF7\xC0\xDA\xB5\xEE\xB7\xCF\xB9\xF8\xC8\xA3 :";
// "사업자번호"
inline constexpr std::string_view kBusinessNumber = "\xBB\xE7\xBE\xF7\xC0\xDA\xB9\xF8\xC8\xA3";
// "성      명"
inline constexpr std::string_view kOwner6 = "\xBC\xBA      \xB8\xED";
// "성        명"
inline constexpr std::string_view kOwner8 = "\xBC\xBA        \xB8\xED";
// "성          명"
inline constexpr std::string_view kOwner10 = "\xBC\xBA          \xB8\xED";
// "성명 :"
inline constexpr std::string_view kOwnerColon = "\xBC\xBA\xB8\xED :";
// "성명           :"
inline constexpr std::string_view kOwnerWideColon = "\xBC\xBA\xB8\xED           :";
// "환자성명 :"
inline constexpr std::string_view kPatientNameColon = "\xC8\xAF\xC0\xDA\xBC\xBA\xB8\xED :";
// "대표자"
inline constexpr std::string_view kRepresentative = "\xB4\xEB\xC7\xA5\xC0\xDA";
// "대    표    자"
inline constexpr std::string_view kRepresentativeSpaced = "\xB4\xEB    \xC7\xA5    \xC0\xDA";
// "약사명"
inline constexpr std::string_view kPharmacistName = "\xBE\xE0\xBB\xE7\xB8\xED";
// "사업장소재지"
inline constexpr std::string_view kAddress = "\xBB\xE7\xBE\xF7\xC0\xE5\xBC\xD2\xC0\xE7\xC1\xF6";
// "사업장  소재지"
inline constexpr std::string_view kAddressSpaced2 =
    "\xBB\xE7\xBE\xF7\xC0\xE5  \xBC\xD2\xC0\xE7\xC1\xF6";
// "사업장  소재지 :"
inline constexpr std::string_view kAddressSpaced2Colon =
    "\xBB\xE7\xBE\xF7\xC0\xE5  \xBC\xD2\xC0\xE7\xC1\xF6 :";
// "사업장 소재지"
inline constexpr std::string_view kAddressSpaced1 =
    "\xBB\xE7\xBE\xF7\xC0\xE5 \xBC\xD2\xC0\xE7\xC1\xF6";
// "사업장주소"
inline constexpr std::string_view kAddressShort = "\xBB\xE7\xBE\xF7\xC0\xE5\xC1\xD6\xBC\xD2";
// "소  재  지"
inline constexpr std::string_view kLocation = "\xBC\xD2  \xC0\xE7  \xC1\xF6";
// "발   행   일"
inline constexpr std::string_view kIssueDate = "\xB9\xDF   \xC7\xE0   \xC0\xCF";
// "약제비 계산서"
inline constexpr std::string_view kBillTitle = "\xBE\xE0\xC1\xA6\xBA\xF1 \xB0\xE8\xBB\xEA\xBC\xAD";
// "* 환 자 성 명 :"
inline constexpr std::string_view kPatientNameSpaced = "* \xC8\xAF \xC0\xDA \xBC\xBA \xB8\xED :";

// Amount lines.
// "원"
inline constexpr std::string_view kWon = "\xBF\xF8";
// "조제  의약품 : "
inline constexpr std::string_view kLabelPrescribed =
    "\xC1\xB6\xC1\xA6  \xC0\xC7\xBE\xE0\xC7\xB0 : ";
// "일반  의약품 : "
inline constexpr std::string_view kLabelOverTheCounter =
    "\xC0\xCF\xB9\xDD  \xC0\xC7\xBE\xE0\xC7\xB0 : ";
// "부   가   세 : "
inline constexpr std::string_view kLabelTax = "\xBA\xCE   \xB0\xA1   \xBC\xBC : ";
// "합        계 : "
inline constexpr std::string_view kLabelTotal = "\xC7\xD5        \xB0\xE8 : ";
// "거 래  금 액 : "
inline constexpr std::string_view kLabelSale = "\xB0\xC5 \xB7\xA1  \xB1\xDD \xBE\xD7 : ";

// The cash-receipt printout.
// "현금(소득공제)"
inline constexpr std::string_view kCashDeduction =
    "\xC7\xF6\xB1\xDD(\xBC\xD2\xB5\xE6\xB0\xF8\xC1\xA6)";
// "현금(지출증빙)"
inline constexpr std::string_view kCashExpense =
    "\xC7\xF6\xB1\xDD(\xC1\xF6\xC3\xE2\xC1\xF5\xBA\xF9)";
// "현금 결제 취소"
inline constexpr std::string_view kCashCancelled =
    "\xC7\xF6\xB1\xDD \xB0\xE1\xC1\xA6 \xC3\xEB\xBC\xD2";
// "식별    번호 : "
inline constexpr std::string_view kLabelIdentification = "\xBD\xC4\xBA\xB0    \xB9\xF8\xC8\xA3 : ";
// "거 래  일 시 : "
inline constexpr std::string_view kLabelDateTime = "\xB0\xC5 \xB7\xA1  \xC0\xCF \xBD\xC3 : ";
// "승 인  번 호 : "
inline constexpr std::string_view kLabelApproval = "\xBD\xC2 \xC0\xCE  \xB9\xF8 \xC8\xA3 : ";
// "알        림 : "
inline constexpr std::string_view kLabelNotice = "\xBE\xCB        \xB8\xB2 : ";
// "상담센터 : Tel.126"
inline constexpr std::string_view kHelpDesk = "\xBB\xF3\xB4\xE3\xBC\xBE\xC5\xCD : Tel.126";
// "[회원용]"
inline constexpr std::string_view kMemberCopyCash = "[\xC8\xB8\xBF\xF8\xBF\xEB]";

// The card receipt and its copies.
// "[신용구매]"
inline constexpr std::string_view kCardPurchase = "[\xBD\xC5\xBF\xEB\xB1\xB8\xB8\xC5]";
// "[신용취소]"
inline constexpr std::string_view kCardCancel = "[\xBD\xC5\xBF\xEB\xC3\xEB\xBC\xD2]";
// "가 맹 점 명 : "
inline constexpr std::string_view kLabelMerchant = "\xB0\xA1 \xB8\xCD \xC1\xA1 \xB8\xED : ";
// "대표자/전화 : "
inline constexpr std::string_view kLabelOwnerPhone = "\xB4\xEB\xC7\xA5\xC0\xDA/\xC0\xFC\xC8\xAD : ";
// "사업자/단말 : "
inline constexpr std::string_view kLabelBusinessTerminal =
    "\xBB\xE7\xBE\xF7\xC0\xDA/\xB4\xDC\xB8\xBB : ";
// "가 맹 번 호 : "
inline constexpr std::string_view kLabelMerchantNumber = "\xB0\xA1 \xB8\xCD \xB9\xF8 \xC8\xA3 : ";
// "주 소 : "
inline constexpr std::string_view kLabelAddress = "\xC1\xD6 \xBC\xD2 : ";
// "카드    번호 : "
inline constexpr std::string_view kLabelCardNumber = "\xC4\xAB\xB5\xE5    \xB9\xF8\xC8\xA3 : ";
// "할 부  개 월 : "
inline constexpr std::string_view kLabelInstallment = "\xC7\xD2 \xBA\xCE  \xB0\xB3 \xBF\xF9 : ";
// "일시불"
inline constexpr std::string_view kLumpSum = "\xC0\xCF\xBD\xC3\xBA\xD2";
// "원 거래 일자 : "
inline constexpr std::string_view kLabelOriginalDate =
    "\xBF\xF8 \xB0\xC5\xB7\xA1 \xC0\xCF\xC0\xDA : ";
// "전 표  번 호 : "
inline constexpr std::string_view kLabelVoucher = "\xC0\xFC \xC7\xA5  \xB9\xF8 \xC8\xA3 : ";
// "매   입   처 : DESC 전자서명거래"
inline constexpr std::string_view kSignPadAcquirer =
    "\xB8\xC5   \xC0\xD4   \xC3\xB3 : DESC \xC0\xFC\xC0\xDA\xBC\xAD\xB8\xED\xB0\xC5\xB7\xA1";
// "매   입   사 : "
inline constexpr std::string_view kLabelAcquirer = "\xB8\xC5   \xC0\xD4   \xBB\xE7 : ";
// "전자전표"
inline constexpr std::string_view kElectronicSlip = "\xC0\xFC\xC0\xDA\xC0\xFC\xC7\xA5";
// "[ 회원용 ]"
inline constexpr std::string_view kCustomerCopy = "[ \xC8\xB8\xBF\xF8\xBF\xEB ]";
// "[가맹점용]"
inline constexpr std::string_view kMerchantCopy = "[\xB0\xA1\xB8\xCD\xC1\xA1\xBF\xEB]";
// "서명"
inline constexpr std::string_view kSignature = "\xBC\xAD\xB8\xED";

}  // namespace hub::payments::texts
