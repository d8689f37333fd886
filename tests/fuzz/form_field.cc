// Fuzz target: a URL-encoded form body read field by field as a POST handler reads it.
#include <algorithm>

#include "tests/fuzz/fuzz_engine.h"

namespace {

class FormConnection : public http::Connection {
  public:
    size_t nameCapacity = 1;
    size_t valueCapacity = 1;
    size_t fields = 0;
    // Served on the calling thread: the fuzzer runs one input at a time.
    bool MayAnswerOnLoop() override { return true; }
    void OnPost(std::string) override {
        std::string name;
        std::string value;
        // A body of n bytes holds at most n + 1 fields: the bound keeps a faulty reader from
        // looping for ever.
        while (ReadFormField(name, nameCapacity, value, valueCapacity)) {
            FUZZ_CHECK(name.size() + 1 <= std::max<size_t>(nameCapacity, 1));
            FUZZ_CHECK(value.size() + 1 <= std::max<size_t>(valueCapacity, 1));
            FUZZ_CHECK(name.size() <= http::kMaxFormNameLength);
            FUZZ_CHECK(value.size() <= http::kMaxFormValueLength);
            FUZZ_CHECK(++fields <= 1 + 70000);
        }
        FUZZ_CHECK(name.size() + 1 <= std::max<size_t>(nameCapacity, 1));
        FUZZ_CHECK(value.size() + 1 <= std::max<size_t>(valueCapacity, 1));
        AppendBody("ok");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FormConnection connection;
    // The first two bytes choose the capacities, as the handlers' buffers differ.
    if (size < 2 || size > 60000) return 0;
    connection.nameCapacity = data[0];
    connection.valueCapacity = static_cast<size_t>(data[1]) * 160;
    std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string request =
        "POST /form HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    request.append(body);
    fuzz::Exchange(connection, request);
    return 0;
}
