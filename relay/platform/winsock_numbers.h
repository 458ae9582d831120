#pragma once
// Socket errors and the few socket constants the engine names, with their
// Winsock numbers: every system's implementation maps to these.

namespace ws {

constexpr int kInvalidSocket = -1;
constexpr int kSocketError = -1;
constexpr int kSockStream = 1;
constexpr int kSolSocket = 0xFFFF;
constexpr int kSoReuseAddr = 4;
// shutdown directions
constexpr int kSdReceive = 0;
constexpr int kSdSend = 1;
constexpr int kSdBoth = 2;

constexpr int kWSAEINTR = 10004;
constexpr int kWSAEBADF = 10009;
constexpr int kWSAEACCES = 10013;
constexpr int kWSAEFAULT = 10014;
constexpr int kWSAEINVAL = 10022;
constexpr int kWSAEMFILE = 10024;
constexpr int kWSAEWOULDBLOCK = 10035;
constexpr int kWSAEINPROGRESS = 10036;
constexpr int kWSAEALREADY = 10037;
constexpr int kWSAENOTSOCK = 10038;
constexpr int kWSAEDESTADDRREQ = 10039;
constexpr int kWSAEMSGSIZE = 10040;
constexpr int kWSAEPROTOTYPE = 10041;
constexpr int kWSAENOPROTOOPT = 10042;
constexpr int kWSAEPROTONOSUPPORT = 10043;
constexpr int kWSAEOPNOTSUPP = 10045;
constexpr int kWSAEAFNOSUPPORT = 10047;
constexpr int kWSAEADDRINUSE = 10048;
constexpr int kWSAEADDRNOTAVAIL = 10049;
constexpr int kWSAENETDOWN = 10050;
constexpr int kWSAENETUNREACH = 10051;
constexpr int kWSAENETRESET = 10052;
constexpr int kWSAECONNABORTED = 10053;
constexpr int kWSAECONNRESET = 10054;
constexpr int kWSAENOBUFS = 10055;
constexpr int kWSAEISCONN = 10056;
constexpr int kWSAENOTCONN = 10057;
constexpr int kWSAESHUTDOWN = 10058;
constexpr int kWSAETIMEDOUT = 10060;
constexpr int kWSAECONNREFUSED = 10061;
constexpr int kWSAEHOSTDOWN = 10064;
constexpr int kWSAEHOSTUNREACH = 10065;

}  // namespace ws
