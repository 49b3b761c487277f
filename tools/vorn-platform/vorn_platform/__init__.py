"""Local stand-in for the pages platform, the organisation site and the KiCad export service."""
