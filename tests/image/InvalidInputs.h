// Main software files that the converter must reject, one per kind of fault, with the line
// and the reason it must report. Shared by the converter's tests and the tarvo-cli tests.
#pragma once

#include <string>
#include <vector>

namespace tarvo::test {

struct InvalidInput {
    const char* name;
    std::string content;
    long line;           // 1-based line the error names
    std::string reason;  // the reason, exactly
};

inline std::vector<InvalidInput> InvalidInputs() {
    const std::string s0 = "S0030000FC\n";
    const std::string r1 = "S3090000100001020304DC\n";
    const std::string s7 = "S70500001000EA\n";
    return {
        {"NonHexDigit", s0 + r1 + "S30900001004050G0708C8\n" + s7, 3,
         "non-hexadecimal character 'G' at column 16 of an S3 record"},
        {"TrailingBlank", s0 + r1 + "S3090000100405060708C8 \n" + s7, 3,
         "non-hexadecimal character ' ' at column 23 of an S3 record"},
        {"ControlCharacter", s0 + "S309000010\t001020304DC\n" + s7, 2,
         "non-hexadecimal character 0x09 at column 11 of an S3 record"},
        {"OddDigitCount", s0 + "S3090000100001020304DC0\n" + s7, 2,
         "S3 record has an odd number of hexadecimal digits"},
        {"NoCount", s0 + "S3\n" + s7, 2, "S3 record has no count"},
        {"CountBelowFive", s0 + r1 + "S30400001000FB\n" + s7, 3, "S3 record count 04 is below 5"},
        {"ShorterThanCount", s0 + r1 + "S3090000100405060708\n" + s7, 3,
         "S3 record is shorter than its count 09 announces (8 of 9 bytes)"},
        {"LongerThanCount", s0 + "S3090000100001020304DCDC\n" + s7, 2,
         "S3 record is longer than its count 09 announces (10 bytes)"},
        {"WrongChecksum", s0 + r1 + "S3090000100405060708C9\n" + s7, 3,
         "S3 record checksum is C9, expected C8"},
        {"EndsAfterS3Record", s0 + r1 + "S3090000100405060708C8\n", 3,
         "the last S3 record is not followed by a termination record (S7, S8 or S9); the file "
         "looks truncated"},
        {"EndsInsideS3Record", s0 + r1 + "S30900001004050607", 3,
         "S3 record is shorter than its count 09 announces (7 of 9 bytes)"},
        {"OnlyCountRecordAfterRun", s0 + r1 + "S5030001FB\n", 2,
         "the last S3 record is not followed by a termination record (S7, S8 or S9); the file "
         "looks truncated"},
        {"S3AfterTermination", s0 + r1 + s7 + r1, 4,
         "the last S3 record is not followed by a termination record (S7, S8 or S9); the file "
         "looks truncated"},
    };
}

}  // namespace tarvo::test
