// Scoped control of the x87 floating-point unit's precision and rounding.
//
// A host process may run with the x87 precision control at 53 or even 24 bits (MSVC runtimes
// and Direct3D set it so), which silently rounds every long double operation. Code that needs
// true 80-bit extended arithmetic opens a TX87Scope around the computation; the host's control
// word is put back when the scope ends. On architectures without an x87 unit the scope does
// nothing and long double arithmetic is what the platform provides.
#pragma once

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#define BP_HAVE_X87 1
#else
#define BP_HAVE_X87 0
#endif

// Precision control field (bits 8 and 9) of the x87 control word.
enum class TX87Precision : std::uint16_t {
    Single = 0x0000,    // 24-bit significand
    Double = 0x0200,    // 53-bit significand
    Extended = 0x0300,  // 64-bit significand
};

// Forces a value through memory, so that the compiler can neither move its computation across
// a control-word change nor fold it with work done under another control word.
template <typename T>
inline void X87Pin(T& value) {
#if BP_HAVE_X87
    asm volatile("" : "+m"(value));
#else
    (void)value;
#endif
}

inline std::uint16_t X87ControlWord() {
#if BP_HAVE_X87
    std::uint16_t cw = 0;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
#else
    return 0;
#endif
}

// Sets the given precision, round-to-nearest and all exceptions masked for its lifetime.
class TX87Scope {
  public:
    explicit TX87Scope(TX87Precision precision = TX87Precision::Extended) {
#if BP_HAVE_X87
        asm volatile("fnstcw %0" : "=m"(saved_));
        constexpr std::uint16_t kPrecisionAndRounding = 0x0F00;
        constexpr std::uint16_t kAllExceptionMasks = 0x003F;
        std::uint16_t cw =
            static_cast<std::uint16_t>((saved_ & ~kPrecisionAndRounding) |
                                       static_cast<std::uint16_t>(precision) | kAllExceptionMasks);
        asm volatile("fldcw %0" : : "m"(cw) : "memory");
#else
        (void)precision;
#endif
    }

    ~TX87Scope() {
#if BP_HAVE_X87
        // Flags raised in here (inexact on nearly every division) would trap at the host's next
        // x87 instruction if the host runs with that exception unmasked.
        std::uint16_t sw = 0;
        asm volatile("fnstsw %0" : "=m"(sw) : : "memory");
        if ((sw & static_cast<std::uint16_t>(~saved_) & 0x003F) != 0) {
            asm volatile("fnclex" : : : "memory");
        }
        asm volatile("fldcw %0" : : "m"(saved_) : "memory");
#endif
    }

    TX87Scope(const TX87Scope&) = delete;
    TX87Scope& operator=(const TX87Scope&) = delete;

  private:
    std::uint16_t saved_ = 0;
};
