hello from a page
