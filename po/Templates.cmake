# Translation templates: filled in below.
