#pragma once

#include <cstdint>

#include "image/image_source.h"
#include "image/sfld_loader.h"
#include "image/srec_reader.h"
#include "link/serial_port.h"
#include "protocol/record_packet.h"
#include "report/prepared_facts.h"
#include "report/receiver_identity.h"

namespace gpsfw {

// Everything one run of the loader keeps between its steps: the serial link, the counts the
// views number the run's wake-ups and stage attempts by (each from 1 within the run), and
// what image preparation found. Made by the run sequence and handed to every step that
// needs it; nothing of it outlives the run.
struct RunState {
  SerialLink link;
  int wakes = 0;
  int sfldUploads = 0;
  int flashStages = 0;
  SfldOrigin sfldOrigin;   // where the SFLD was read from; prepared.sfldPath points here
  PreparedFacts prepared;  // complete once PrepareImage has succeeded
  RecordPacket packet;     // room for one record while the images are counted
  // The platform clock's time after which the session gives up at its next safe point;
  // 0 keeps it trying for ever.
  uint64_t giveUpAtUs = 0;
  // The platform clock at the run's latest progress (a wake-up sent, a "$VER" reply taken,
  // the SFLD accepted, a flash stage answered): the session wakes the receiver again when
  // this lies too far back, whatever bytes keep arriving.
  uint64_t progressUs = 0;
  // What the receiver's replies told of it so far.
  ReceiverIdentity identity;
  // The images the run sends, opened by image preparation and closed with the run: the
  // firmware image for the flash stage, the SFLD for the boot loader.
  ImageSource firmware;
  SRecReader sfld;
  // True when the target's PFLD area is rewritten as well: flash programming then asks the
  // target to enter its boot mode first.
  bool pfldMode = false;
};

// Notes progress now.
void NoteProgress(RunState& run);

// True once the run's time to give up has come.
bool TimeToGiveUp(const RunState& run);

}  // namespace gpsfw
