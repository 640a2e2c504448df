// Renders the Win32 window, frame and caption included, to PNG files:
// render_win32_screens <folder>. It walks the operator's way on the
// simulated bus: the disclaimer, the drive list, and a finished Quick run.
// Run it where the system draws the window's frame itself (under Wine: in a
// virtual desktop; tools/win32_screens.sh does that).
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "sim_control.h"
#include "ui/main_window.h"
#include "ui/win32/form_window.h"

namespace {

using tamro::ui::ControlId;
using tamro::ui::Form;

std::uint32_t Crc(const std::uint8_t* data, std::size_t n, std::uint32_t crc = 0xFFFFFFFFu) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
    PutBe32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBe32(png, ~Crc(png.data() + start, png.size() - start));
}

// A PNG of 24-bit rows, its image data in stored (uncompressed) blocks.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgbRows) {
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const auto* row = rgbRows.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
        raw.insert(raw.end(), row, row + static_cast<std::size_t>(width) * 3);
    }
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t at = 0; at < raw.size() || at == 0;) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        for (std::uint16_t v : {static_cast<std::uint16_t>(n), static_cast<std::uint16_t>(~n)}) {
            z.push_back(static_cast<std::uint8_t>(v));
            z.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at), raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
        if (last) break;
    }
    PutBe32(z, b << 16 | a);

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBe32(header, static_cast<std::uint32_t>(width));
    PutBe32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && written;
}

// What the screen shows of the whole window, frame included.
bool Capture(HWND window, const std::string& path) {
    RECT frame;
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> bgr(stride * static_cast<std::size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bgr.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = bgr.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3;
            rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        }
    return WritePng(path, width, height, rgb);
}

bool Pump(tamro::ui::win32::FormWindow& window, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message != WM_QUIT) window.Process(message);
        if (done()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    using namespace tamro::ui;
    InstallHandlers();
    win32::FormWindow window;
    window.Show();
    bool ok = true;
    const auto render = [&](const char* name) {
        // Settle, then let the screen catch up with what was drawn.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        Pump(window, [&] { return std::chrono::steady_clock::now() > until; });
        window.Flush();
        RedrawWindow(window.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
        ok = Capture(window.Handle(), folder + "/" + name + ".png") && ok;
    };
    const auto click = [&](ControlId id) {
        SendMessageA(window.Control(id), BM_CLICK, 0, 0);
        window.Flush();
    };

    ConstructForm();
    ok = Pump(window, [] { return Form().IsEnabled(ControlId::accept); }) && ok;
    render("win32_disclaimer");
    click(ControlId::accept);
    render("win32_drive_list");
    click(ControlId::SmtTest);
    click(ControlId::Button4);
    ok = Pump(window, [] { return Form().IsEnabled(ControlId::TEST); }) && ok;
    render("win32_run_finished");
    std::printf("%s\n", ok ? "rendered" : "failed");
    return ok ? 0 : 1;
}
