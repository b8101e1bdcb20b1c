// Fills a record database with many realistic records (8 ports, 4 stations, 3 images, 90 days,
// 97 % PASS) for the summary benchmark, and prints its size per record.
//
// usage: tarvo-bench-record-fill PATH [COUNT]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "record/Identity.h"
#include "record/RecordStore.h"

using namespace tarvo::record;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvo-bench-record-fill PATH [COUNT]\n");
        return 2;
    }
    const std::string path = argv[1];
    const long count = argc > 2 ? std::atol(argv[2]) : 1000000;
    std::filesystem::remove(path);
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    RecordStore store;
    std::string error;
    if (!store.Open(path, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const char* images[] = {"/srv/images/gsm-v4.2.0.cp64", "/srv/images/gsm-v4.2.1.cp64",
                            "/srv/images/gsm-v4.3.0-rc1.cp64"};
    std::vector<RunRecord> batch;
    unsigned seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFF;
    };
    const auto start = std::chrono::system_clock::now() - std::chrono::hours(24 * 90);
    for (long n = 0; n < count; ++n) {
        RunRecord r;
        r.run_id = NewRunId();
        r.station = "line-" + std::to_string(n % 4 + 1);
        r.host = "station-" + std::to_string(n % 4 + 1);
        r.operator_ = "operator";
        r.tarvo_version = "1.3";
        r.port = static_cast<int64_t>(5 + n % 8);
        r.device = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1." + std::to_string(n % 8 + 1) + ":1.0-port0";
        r.device_resolved = "/dev/ttyUSB" + std::to_string(n % 8);
        const auto when = start + std::chrono::milliseconds(static_cast<int64_t>(n) * 7776);
        r.started_at = IsoUtc(when);
        r.ended_at = IsoUtc(when + std::chrono::seconds(95));
        const unsigned roll = next() % 100;
        const bool pass = roll < 97;
        r.result = pass ? "PASS" : roll < 99 ? "FAIL" : "ERROR";
        r.status = pass ? 20 : roll < 99 ? 21 : 41;
        r.text = pass ? "PASS - Checksum: [D244,D244]" : roll < 99 ? "FAIL - Checksum: [D244,D245]" : "Downloading Aborted !!!";
        r.loader = n % 2 ? "flashloader" : "bootloader";
        r.loader_version = n % 2 ? "1.2.5" : "3.12";
        if (!(n % 2))
            r.monitor_checksums = "F05F,F05F";
        r.checksums = pass ? "D244,D244" : "D244,D245";
        r.main_software = std::string(images[n % 3]).replace(std::string(images[n % 3]).size() - 4, 4, "m0");
        r.main_sha256 = "5d9871803de6e7c01a6a796271440e4f37d7fd042cbd03b70ac83bb2b5dde2fb";
        r.image = images[n % 3];
        r.image_sha256 = "20238197b4c57bbdd330348075a52c8cf8502c8bc00e622e059260f0b830bc1e";
        r.image_bytes = 4191232;
        r.bytes_sent = 4191232;
        r.wait_ms = 1500 + next() % 3000;
        r.monitor_ms = 1200;
        r.erase_ms = 9000 + next() % 2000;
        r.download_ms = 80000 + next() % 9000;
        r.verify_ms = 300;
        r.total_ms = *r.wait_ms + *r.monitor_ms + *r.erase_ms + *r.download_ms + *r.verify_ms;
        if (n % 3 == 0)
            r.unit = "SN" + std::to_string(10000000 + n);
        batch.push_back(std::move(r));
        if (batch.size() == 20000) {
            if (!store.UpsertAll(batch, "", error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            batch.clear();
        }
    }
    if (!batch.empty() && !store.UpsertAll(batch, "", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    store.Close();
    const auto bytes = std::filesystem::file_size(path);
    std::printf("%ld records, %.1f MB, %.0f bytes per record\n", count, bytes / 1e6, static_cast<double>(bytes) / count);
    return 0;
}
