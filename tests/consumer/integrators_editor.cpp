// As little as shows the package works: the public header alone, its names
// in namespace tavo, and the library refusing an order without a helper.
#include <tavo/editor_update.h>

#include <cstdio>

int main() {
    tavo::UpdateOrder order;
    tavo::UpdateHandoff handoff;
    const tavo::HelperStart start = tavo::StartUpdateHelper(order, handoff);
    std::printf("%ls\n", start.Refusal.c_str());
    return start.Refusal == L"helper: not an absolute path" ? 0 : 1;
}
