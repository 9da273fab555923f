// The text of veloxa2-ctl --help. Its man page says the same in more words;
// a test holds the two together.

#include "command_line.h"

namespace veloxa::ctl {

QString helpText()
{
    return QStringLiteral(R"(Usage: veloxa2-ctl [OPTIONS] COMMAND [ARGS]

Sends commands to a Veloxa2 laser frequency-offset unit over UDP, one datagram
per command, byte for byte as the Veloxa2 GUI panel sends them. Values are
checked against the ranges the panel allows; a bad value sends nothing.

Commands:
  freq MHZ [--polarity +|-]
        DDS frequency in MHz, at most half the system clock either way (the
        unit gets the magnitude). With --polarity the polarity command
        follows, as after the panel's Update button.
  ramp --step N --rate N --stop MHZ [--polarity +|-]
        Start a ramp: step 0..4294967295 FTW units, rate 0..65535 periods of
        four clock cycles per step, stop frequency in MHz (at most half the
        system clock either way). --polarity as for freq.
  ramp-stop             Stop the ramp.
  polarity +|-          Tuned laser above (+) or below (-, also --) the
                        reference laser.
  power on|off          DDS power.
  gain 0..7             Gain, the charge-pump current.
  contrast 0..99        Contrast of the unit's display.
  dds-reg               Ask the unit to show its DDS registers.
  heartbeat             One heartbeat.
  seq clear             Clear the command sequence held by the unit.
  seq add-freq MHZ      Add a frequency to the sequence.
  seq add-ramp --step N --rate N --stop MHZ
                        Add a ramp to the sequence.
  seq add-wait          Add a wait for the ADwin trigger to the sequence.
  seq execute           Run the sequence.
  seq restart           Restart the sequence.

Options (anywhere on the line, as --name VALUE or --name=VALUE):
  --host H          The unit's IPv4 address, a dotted quad. Default: the IP
                    Address the panel has stored, else 192.168.1.133.
  --port P          UDP port 1..65535 (default 37829).
  --sysclk MHZ      System clock 100..1000 MHz (default 1000), for the tuning
                    words of freq, ramp, seq add-freq and seq add-ramp.
  --dry-run         Print each datagram in hex with what it means, one line
                    each, and send nothing.
  --listen SECONDS  After sending, wait SECONDS (0..3600) and print one line
                    per datagram that arrives (sender, size, bytes in hex).
  --verbose         Print the destination and each datagram as it goes.
  -h, --help        Print this text.
  --version         Print the version.

Numbers are read as a whole: 12.5 and 1e3 are numbers, 12abc is not. A
negative number is written as it stands: freq -12.34.

Exit status: 0 when everything was sent, 1 when a send failed (the rest is
not sent), 2 for a bad command line (nothing is sent).

Examples:
  veloxa2-ctl --dry-run freq 12.34 --polarity +
  veloxa2-ctl --host 192.168.1.133 freq 12.34 --polarity -
  veloxa2-ctl --sysclk 500 ramp --step 1000 --rate 10 --stop 150
  veloxa2-ctl seq clear
  veloxa2-ctl seq add-freq 10
  veloxa2-ctl seq add-wait
  veloxa2-ctl seq add-ramp --step 1 --rate 1 --stop 15
  veloxa2-ctl seq execute
  veloxa2-ctl --listen 2 heartbeat
)");
}

} // namespace veloxa::ctl
