"""Tables the demo data is made of: which official KiCad libraries give component pages (with
the tag that files them under a component type and how many to take), the part documents to
generate, the demo boards and projects, and the people and organisations who own them."""

KICAD_SYMBOLS = "/usr/share/kicad/symbols"
KICAD_FOOTPRINTS = "/usr/share/kicad/footprints"
KICAD_DEMOS = "/usr/share/kicad/demos"

# library file stem -> (type tag, pages to take)
SYMBOL_LIBRARIES = [
    ("MCU_Microchip_ATtiny", "microcontroller", 22),
    ("MCU_Microchip_AVR", "microcontroller", 8),
    ("MCU_RaspberryPi", "microcontroller", 3),
    ("Regulator_Linear", "regulator", 28),
    ("Regulator_Switching", "dc-dc buck regulator", 14),
    ("Transistor_FET", "mosfet", 24),
    ("Transistor_BJT", "transistor", 18),
    ("LED", "led", 12),
    ("Diode", "diode", 20),
    ("Power_Protection", "tvs diode", 8),
    ("Amplifier_Operational", "op-amp amplifier", 20),
    ("Interface_UART", "transceiver", 10),
    ("Sensor_Temperature", "sensor", 10),
    ("Oscillator", "oscillator", 10),
    ("Memory_EEPROM", "ic memory", 10),
    ("Connector_Audio", "connector jack", 8),
    ("Switch", "switch", 8),
    ("Logic_LevelTranslator", "logic ic", 8),
]

# Part documents: (family, type words, footprint library:name, values, value unit)
PART_FAMILIES = [
    ("RES", "resistor thick film", "Resistor_SMD:R_0402_1005Metric", ["100", "1K", "4K7", "10K", "47K", "100K"], "Ω"),
    ("RES", "resistor thick film", "Resistor_SMD:R_0603_1608Metric", ["22", "330", "2K2", "10K", "100K"], "Ω"),
    ("CAP", "capacitor mlcc", "Capacitor_SMD:C_0402_1005Metric", ["100N", "1U", "10N", "22P"], "F"),
    ("CAP", "capacitor mlcc", "Capacitor_SMD:C_0805_2012Metric", ["4U7", "10U", "22U"], "F"),
    ("IND", "inductor", "Inductor_SMD:L_0805_2012Metric", ["1U", "2U2", "10U"], "H"),
    ("FB", "ferrite bead", "Inductor_SMD:L_0603_1608Metric", ["120R", "600R"], "Ω@100MHz"),
    ("FUSE", "fuse polyfuse", "Fuse:Fuse_1206_3216Metric", ["500MA", "1A", "2A"], "A"),
    ("XTAL", "crystal", "Crystal:Crystal_SMD_3225-4Pin_3.2x2.5mm", ["8M", "12M", "16M", "25M"], "Hz"),
    ("LED", "led indicator", "LED_SMD:LED_0603_1608Metric", ["RED", "GRN", "BLU"], ""),
]
PART_MANUFACTURER = "Vorn Demo Components"

# Demo boards: (slug, demo folder, project stem, tag, owner, org, visibility, title). Slugs carry
# their owner ("<user or org>/<name>") as on the platform; a few pages keep a one-part slug.
BOARDS = [
    ("demo/ecc83-preamp", "ecc83", "ecc83-pp", "board", "demo", "vorn-labs", "public", "ECC83 tube preamp"),
    ("demo/pic-programmer", "pic_programmer", "pic_programmer", "board", "demo", "", "private", "PIC programmer"),
    ("vorn-labs/complex-hierarchy", "complex_hierarchy", "complex_hierarchy", "molecule", "kestrel", "vorn-labs", "open", "Hierarchical amplifier"),
    ("open-hw-guild/flat-hierarchy", "flat_hierarchy", "flat_hierarchy", "board", "juno", "open-hw-guild", "public", "Flat hierarchy programmer"),
    ("orrin/stickhub", "stickhub", "StickHub", "board", "orrin", "open-hw-guild", "open", "StickHub USB hub"),
    ("vorn-labs/interf-u", "interf_u", "interf_u", "molecule", "demo", "vorn-labs", "private", "Interface unit"),
    ("video-board", "video", "video", "board", "kestrel", "", "public", "Video capture board"),
]

# Projects: (slug, title, owner, org, visibility, boards)
PROJECTS = [
    ("vorn-labs/audio-lab", "Audio lab", "demo", "vorn-labs", "public", ["demo/ecc83-preamp", "vorn-labs/complex-hierarchy"]),
    ("programmer-kit", "Programmer kit", "juno", "open-hw-guild", "open", ["demo/pic-programmer", "open-hw-guild/flat-hierarchy"]),
]

USERS = ["demo", "kestrel", "juno", "orrin"]
ORGS = {
    "vorn-labs": {"name": "Vorn Labs", "description": "Reference designs and parts"},
    "open-hw-guild": {"name": "Open Hardware Guild", "description": "Community boards"},
}
IDENTITY = {"user": "demo", "orgs": ["vorn-labs", "open-hw-guild"]}
