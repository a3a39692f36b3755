#pragma once
// The large generated CAN database of the benchmarks: 5,000 messages with 10 signals each (50,000
// signals), a comment per signal, value descriptions, attribute definitions and values. Written
// once per process into the temporary folder.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace tessmar::bench {

inline constexpr int kMessages = 5000;
inline constexpr int kSignalsPerMessage = 10;

// Identifier as written in the file: standard for two thirds of the first 2048 messages,
// extended (bit 31 set) for the others; all different.
inline unsigned MessageId(int m) {
  const bool ext = m % 3 == 0 || m >= 2048;
  return ext ? (0x80000000u | (0x18F00000u + static_cast<unsigned>(m))) : static_cast<unsigned>(m);
}

inline std::string GenerateDbc() {
  std::string s;
  s.reserve(16u << 20);
  char line[512];
  s += "VERSION \"generated\"\r\n\r\nNS_ :\r\n\tNS_DESC_\r\n\tCM_\r\n\tBA_DEF_\r\n\tBA_\r\n"
       "\tVAL_\r\n\tSIG_VALTYPE_\r\n\r\nBS_:\r\n\r\nBU_:";
  for (int n = 0; n < 40; ++n) {
    std::snprintf(line, sizeof line, " Node_%02d", n);
    s += line;
  }
  s += "\r\n\r\nVAL_TABLE_ OnOff 1 \"On\" 0 \"Off\" ;\r\n\r\n";
  for (int m = 0; m < kMessages; ++m) {
    const unsigned id = MessageId(m);
    std::snprintf(line, sizeof line, "BO_ %u Message_%05d: 8 Node_%02d\r\n", id, m, m % 40);
    s += line;
    if (m % 5 == 0) {
      std::snprintf(line, sizeof line, " SG_ Mux_%05d M : 0|4@1+ (1,0) [0|15] \"\" Node_%02d\r\n",
                    m, (m + 1) % 40);
      s += line;
    }
    for (int k = (m % 5 == 0) ? 1 : 0; k < kSignalsPerMessage; ++k) {
      const bool motorola = (k % 2) == 1;
      const int start = motorola ? 8 * (k % 8) + 7 : 6 * k % 58;
      std::snprintf(line, sizeof line,
                    " SG_ Signal_%05d_%d%s : %d|%d@%d%c (%g,%g) [%g|%g] \"unit%d\" Node_%02d,"
                    "Node_%02d\r\n",
                    m, k, (m % 5 == 0) ? " m2" : "", start, 4 + k % 5, motorola ? 0 : 1,
                    (k % 3) ? '+' : '-', 0.125 * (k + 1), -40.0 + k, -100.0 * k, 1000.5 * k, k,
                    (m + 2) % 40, (m + 3) % 40);
      s += line;
    }
    s += "\r\n";
  }
  s += "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 65535;\r\n";
  s += "BA_DEF_ SG_ \"GenSigStartValue\" FLOAT -3.4E+038 3.4E+038;\r\n";
  s += "BA_DEF_ BO_ \"VFrameFormat\" ENUM \"StandardCAN\",\"ExtendedCAN\",\"J1939PG\";\r\n";
  s += "BA_DEF_DEF_ \"GenMsgCycleTime\" 100;\r\n";
  s += "BA_DEF_DEF_ \"GenSigStartValue\" 0;\r\n";
  s += "BA_DEF_DEF_ \"VFrameFormat\" \"StandardCAN\";\r\n";
  for (int m = 0; m < kMessages; ++m) {
    const unsigned id = MessageId(m);
    std::snprintf(line, sizeof line,
                  "CM_ BO_ %u \"Message number %d of the generated database\";\r\n", id, m);
    s += line;
    for (int k = (m % 5 == 0) ? 1 : 0; k < kSignalsPerMessage; ++k) {
      std::snprintf(line, sizeof line,
                    "CM_ SG_ %u Signal_%05d_%d \"Signal %d of message %d: a comment long enough "
                    "to be shortened in the table\";\r\n",
                    id, m, k, k, m);
      s += line;
    }
    std::snprintf(line, sizeof line, "BA_ \"GenMsgCycleTime\" BO_ %u %d;\r\n", id, 10 * (m % 100));
    s += line;
    std::snprintf(line, sizeof line, "BA_ \"GenSigStartValue\" SG_ %u Signal_%05d_3 %d;\r\n", id, m,
                  m % 7);
    s += line;
    std::snprintf(line, sizeof line,
                  "VAL_ %u Signal_%05d_4 3 \"Three\" 2 \"Two\" 1 \"One\" 0 \"Zero\" ;\r\n", id, m);
    s += line;
  }
  return s;
}

inline const std::string& BenchFile() {
  static const std::string path = [] {
    const std::filesystem::path p =
        std::filesystem::temp_directory_path() / "tessmar_candb_bench_large.dbc";
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << GenerateDbc();
    return p.string();
  }();
  return path;
}

}  // namespace tessmar::bench
