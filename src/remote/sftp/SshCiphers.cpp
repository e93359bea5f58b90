#include "remote/sftp/SshCiphers.h"

#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tavrin::sftp {

bool AesInHardware() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("pclmul");
#elif defined(__aarch64__)
    const unsigned long caps = ::getauxval(AT_HWCAP);
    return (caps & HWCAP_AES) != 0 && (caps & HWCAP_PMULL) != 0;
#else
    return false;
#endif
}

std::string PreferredCiphers(bool aesInHardware) {
    const std::string gcm = "aes128-gcm@openssh.com,aes256-gcm@openssh.com";
    const std::string chacha = "chacha20-poly1305@openssh.com";
    const std::string ctr = "aes128-ctr,aes192-ctr,aes256-ctr";
    return (aesInHardware ? gcm + "," + chacha : chacha + "," + gcm) + "," + ctr;
}

std::string PreferredCiphers() {
    static const std::string ciphers = PreferredCiphers(AesInHardware());
    return ciphers;
}

} // namespace tavrin::sftp
