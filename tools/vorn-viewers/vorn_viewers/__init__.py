"""vorn-layout-viewer and vorn-schematic-viewer: interactive pages for KiCad boards and
schematics drawn from kicad-cli SVG exports, and component details from the platform."""
