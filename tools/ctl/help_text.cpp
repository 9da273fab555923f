// The text of veloxa2-ctl --help. Its man page says the same in more words;
// a test holds the two together.

#include "command_line.h"

namespace veloxa::ctl {

namespace {

const char kHelp[] = R"(Usage: veloxa2-ctl [OPTIONS] COMMAND [ARGS]
       veloxa2-ctl --panel [--sysclk MHZ] [--verbose] COMMAND [ARGS]
       veloxa2-ctl --panel get | watch [--json]
       veloxa2-ctl --mqtt URL --unit NAME [--verbose] COMMAND [ARGS]
       veloxa2-ctl --mqtt URL units | --unit NAME|+ watch [--json]

Sends commands to a Veloxa2 laser frequency-offset unit over UDP, one datagram
per command, byte for byte as the Veloxa2 GUI panel sends them. Values are
checked against the ranges the panel allows; a bad value sends nothing.

With --panel the commands go to a running panel instead (one started with
veloxa2-gui --control): each becomes what a user does on the window (a box
assigned, a button or option clicked), so the panel's boxes, label and stored
settings stay true to what the unit has. The panel applies its own rules; a
value it corrects is said on stderr.

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

With --mqtt URL --unit NAME the same commands go to the panel of unit NAME
(veloxa2-gui --unit NAME --mqtt URL --mqtt-commands) through an MQTT broker
on another machine: each request is published to the panel's topics and its
answer read back, as on the endpoint.

Commands only with --panel or --mqtt:
  get                   Print the panel's state as JSON: every control, the
                        link ("heard") and the heartbeat.
  watch                 Print one time-stamped line per event (datagram sent
                        or refused, arrival, link state, control change)
                        until interrupted or the panel ends.
  units                 Only with --mqtt: one line per unit the broker knows,
                        its name, status (online, offline) and link (heard,
                        silent).
  heartbeat on|off      Turn the panel's heartbeat on or off (clicks its
                        button only when it is not in that state already).

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
  --verbose         Print the destination and each datagram as it goes
                    (with --panel: each request and its result).
  --panel           Drive the running panel through its control endpoint
                    ($XDG_RUNTIME_DIR/veloxa2-gui/control) instead of
                    sending to the unit. --host, --port, --dry-run and
                    --listen do not go with it; --sysclk sets the panel's
                    System Clock box first.
  --json            With watch: print the events as JSON lines.
  --unit NAME       The panel of unit NAME (veloxa2-gui --unit NAME): its
                    endpoint with --panel, its topics with --mqtt (watch
                    takes "+" for every unit), and without either its stored
                    IP Address as the default of --host.
  --mqtt URL        Drive the panel through the broker at mqtt://HOST[:PORT]
                    or mqtts://HOST[:PORT] (TLS) instead of its endpoint.
  --mqtt-ca FILE    With mqtts://: trust this CA certificate file.
  --mqtt-credentials FILE
                    The broker's user and password, one line user:password,
                    in a file only you may read.
  -h, --help        Print this text.
  --version         Print the version.

Numbers are read as a whole: 12.5 and 1e3 are numbers, 12abc is not. A
negative number is written as it stands: freq -12.34.

Exit status: 0 when everything was sent, 1 when a send failed (the rest is
not sent), 2 for a bad command line (nothing is sent), 3 with --panel when
no panel endpoint is there (with --mqtt: no broker, or the unit is not
online), 1 with --panel when the panel refused a request.

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
  veloxa2-ctl --panel freq 12.34 --polarity -
  veloxa2-ctl --panel get
  veloxa2-ctl --panel watch
  veloxa2-ctl --mqtt mqtts://broker.lab --mqtt-credentials ~/.mqtt units
  veloxa2-ctl --mqtt mqtt://localhost --unit laser-2 freq 12.34
)";

} // namespace

QString helpText()
{
    return QString::fromUtf8(kHelp);
}

} // namespace veloxa::ctl
