// KiccPad: the sign-pad module library (libKiccPad.so, loaded by the hub as "KiccPad.DLL").
// It keeps the customer's signature, saves it as a monochrome bitmap, and exchanges the hub's
// fixed-width request record with the VAN approval server over TCP, handing back the server's
// 832-byte answer record. Every entry point returns an integer; the protocol, the settings and
// the signature data format are in README.md beside this file, the record and wire layouts in
// kicc_protocol.h.
//
// State is kept per calling thread: each thread that loads the library (the main thread for the
// relay slot, each terminal loop) has a session of its own, and the library is called only from
// the thread that loaded it.
#pragma once

#define KICC_PAD_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Starts (or restarts) this thread's session; `port` and `speed` name the pad's serial line, 0
// when no pad is attached. 1; -1 for a negative port or speed (the library cannot work).
KICC_PAD_API int epConnect(int port, int speed);
// Ends this thread's session: everything set and received is forgotten. 1.
KICC_PAD_API int epDisConnect(void);

// The request record: exactly kicc::kRequestRecordSize bytes (no zero byte among them) followed
// by a zero byte. 1; -1 for a null pointer or a record shorter than its layout.
KICC_PAD_API int epSetReqData(const char* record);
// Copies the 832-byte answer record of the last successful epSendDSC into `answer`, which must
// hold at least 832 bytes. 832; -1 when there is no answer.
KICC_PAD_API int epGetAnsData(char* answer);
// Confirms the last approval to the VAN server (the card receipt has been built). 1; 0 when
// there is no answer to confirm; -1 when the server cannot be reached or does not confirm.
KICC_PAD_API int epConfirmDSC(void);

// The VAN server's address (dotted IPv4 or a host name) and its port (a decimal text). 1; -1 for
// a null or empty address, or a port that is not 1-65535.
KICC_PAD_API int epSetKiccIp(const char* address);
KICC_PAD_API int epSetKiccPort(const char* port);
// Sends the request record, the seed and the signature to the VAN server and waits for its
// answer record. 1 with an answer; 0 when the request record, the address or the port is
// missing; -1 the server cannot be reached; -2 the exchange failed or no answer came in time;
// -3 the answer was malformed.
KICC_PAD_API int epSendDSC(void);

// The terminal's 32-character seed (a zero-terminated text; longer texts are cut). 1; -1 null.
KICC_PAD_API int epSetSeed(const char* seed);

// The signature data: pen points (README.md), as raw bytes or as hexadecimal text. 1; -1 for a
// null pointer, a negative or excessive length, or text that is not hexadecimal.
KICC_PAD_API int epSetSignData(const unsigned char* data, int length);
KICC_PAD_API int epSetSignHexData(const char* hex);

// Saves the signature as a monochrome (1 bit per pixel) BMP file, `file_name` a Windows path
// under the prefix. epSaveToCatBmp and epSaveToBmp at the pad's resolution (the card terminal
// prints this one), epSaveScrToBmp at twice the resolution for a screen. 1; -1 when no signature
// data was set or the file cannot be written.
KICC_PAD_API int epSaveToCatBmp(const char* file_name);
KICC_PAD_API int epSaveToBmp(const char* file_name);
KICC_PAD_API int epSaveScrToBmp(const char* file_name);

#ifdef __cplusplus
}  // extern "C"
#endif
