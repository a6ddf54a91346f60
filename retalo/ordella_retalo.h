// The exports of libOrdella_Retalo.so, the pharmacy database writer that the tray service
// program calls one request at a time. Texts are NUL-terminated CP949; parameter texts join
// their fields with "‡" (CP949 A2 D4). Database exports return 1 on success, -1001 when the
// database cannot be reached, -1002 when a statement fails or a required row is missing, and
// -1003 when a parameter text cannot be read; every failure leaves a record in the day's log.
//
// Exports that write an answer into the caller's buffer take the buffer's size in bytes as
// their last argument: the answer is written with a terminating zero after the first four
// bytes have been zeroed, and an answer that does not fit is refused (-1003, logged) instead of
// running past the buffer.
//
// Every export added to this header is also listed in ordella_retalo.map.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define ORDELLA_RETALO_EXPORT __attribute__((visibility("default")))

// Goods and barcode catalogue.

// Looks a scanned barcode up: the pharmacy's goods with their newest prices and stock, or the
// national barcode table's entry with zero prices and stock. The answer is
// "barcode|name|maker|units per pack|unit name|sale price|purchase price|stock".
// Returns 1 (answer written), 0 (not found, buffer untouched), -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int HasBarcode(const char* barcode, char* answer, int answer_size);

// Registers an article the pharmacy does not know yet: "barcode‡product name‡maker name".
// Returns 1 (also when the barcode is known already), -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int SaveNewItem(const char* item);

// Brings the catalogue up to date with a goods list: "count‡" then per item
// "barcode‡sale price‡purchase price‡quantity‡price flags". Missing barcodes are registered;
// with price_update 1, prices flagged "U" are stored as today's prices.
// Returns 1, -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int SaveGoods(const char* goods, int price_update);

// Lists for the terminal. Each writes its rows as "|"-terminated fields and returns the number
// of rows, 0 when there is none (buffer untouched), -1001, -1002, or -1003 when the rows do not
// fit the buffer.

// Today's prescriptions still to be paid (at most 30, newest first):
// "serial|name|resident number|amount|cash receipt identity|" per prescription.
ORDELLA_RETALO_EXPORT int LoadUserList(char* list, int list_size);
// The current staff: "name|entry date|resident number|points|" per person.
ORDELLA_RETALO_EXPORT int LoadSellerList(char* list, int list_size);
// The priced catalogue: "barcode|name|maker|units per pack|unit name|sale price|purchase
// price|stock|" per barcode, numbers as whole numbers.
ORDELLA_RETALO_EXPORT int LoadDatabase(char* list, int list_size);

// Customer display at the counter (the display libraries "RetaloDisplay.dll" and
// "Ordella_DisplayM.dll").

// Loads the display libraries and opens the display: the display library's result, 1 when it
// is open already, 0 when a library cannot be loaded or lacks an entry point (logged).
ORDELLA_RETALO_EXPORT int OpenScreen(void);
// Closes the display and unloads its libraries: 1, or 0 when it was not open.
ORDELLA_RETALO_EXPORT int CloseScreen(void);
// Shows the pop-up and clears the item list: the display library's result, 0 when not open.
ORDELLA_RETALO_EXPORT int ClearScreen(void);
// Shows the customer of today's prescription `serial`: the display library's result, 0 when
// the display is not open or the prescription is not today's, -1001 or -1002.
ORDELLA_RETALO_EXPORT int AddScreenCust(const char* serial);
// Shows the first item of a goods list (SaveGoods' text): the display library's result, 0 when
// the display is not open or the barcode is unknown, -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int AddScreenItem(const char* goods);

// Sales, stock and payments.

// Records one sale made at the terminal. `sale`: "count text‡customer code‡received‡received
// tax‡discount‡" then the goods list of SaveGoods (count, then five fields per item).
// `payment`: "OTC amount‡OTC tax‡ETC amount‡kind‡approval number‡terminal number‡card or
// identity data‡instalment‡approval date and time (14 digits)‡count N‡" then N prescription
// records of five fields (serial first). The catalogue is brought up to date with the goods
// first (price_update 1 lets flagged prices change); then the sale, its lines, their stock
// movements, its statement and its payment rows are written in one transaction. An order
// number booked before has its earlier statement reversed first.
// Returns 1, -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int SaveSaleData(const char* sale, const char* payment, int price_update);

// Records a payment that covers prescriptions only (the payment text of SaveSaleData): one
// payment row per prescription, in one transaction. Returns 1, -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int SavePresData(const char* payment);

// Writes the dispensing pharmacist into prescriptions: "name‡count N‡" then N prescription
// records of five fields (only the serial is used). An empty name changes nothing.
// Returns 1, -1001, -1002 or -1003.
ORDELLA_RETALO_EXPORT int UpdatePresData(const char* prescriptions);

// Sets the stock of the product of `barcode` to the quantity counted on the shelf (single
// units), in one transaction. Returns 1, -1001, -1002, or -1003 when the barcode is unknown.
ORDELLA_RETALO_EXPORT int StockRevision(const char* barcode, double counted);

// Cancel transactions.

// Marks the payment rows of a card approval (kind 1) or a cash receipt (any other kind) as
// cancelled: the rows whose approval number is `approval_number` and whose approval date starts
// with `approval_date`. Their amounts move to the paper columns; rows cancelled already are
// left as they are. Returns 1, -1001, -1002, or -1003 when no row matches.
ORDELLA_RETALO_EXPORT int MakeCancelTrans(const char* approval_number, const char* approval_date,
                                          int kind);

#ifdef __cplusplus
}  // extern "C"
#endif
