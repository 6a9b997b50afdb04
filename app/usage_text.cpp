#include "app/usage.h"

#include <string.h>

namespace {

constexpr const char* usage_pieces[] = {
    "USAGE: Tavenor [/i <inf filename>] [/u <inf filename>] [/c <DEVID>] [/s] [/n] [/f] [/d] [/l <log file>]\n",
    "\nOptions:\n",
    "/c : Clean drivers with specified DEVID\n",
    "/i : Install driver package. can not be used together with /u.\n",
    "/u : Uninstall driver package.can not be used together with /i\n",
    "/s : Silent mode.\n",
    "/n : driver to be installed is Not signed.only used together with /i\n",
    "/f : Force to install the driver even if the new driver is not\n",
    "     better than the old one, or Force to uninstall driver and its files.\n",
    "/d : Debug mode, with message traced out\n",
    "/l : Log every step, the run's start and its exit code to the file\n",
};

} // namespace

size_t build_usage_text(char* out, size_t capacity)
{
    size_t len = 0;
    for (const char* piece : usage_pieces) {
        size_t piece_len = strlen(piece);
        if (len + piece_len >= capacity)
            return 0;
        memcpy(out + len, piece, piece_len);
        len += piece_len;
    }
    out[len] = '\0';
    return len;
}
