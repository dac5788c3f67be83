-- The table behind hosts.page; scripts/run loads it into its private server.
CREATE TABLE hosts (
  name   VARCHAR(40) PRIMARY KEY,
  role   VARCHAR(20) NOT NULL,
  cpus   INT NOT NULL,
  mem_gb INT NOT NULL,
  note   VARCHAR(80) NULL
);
INSERT INTO hosts VALUES
  ('db-1',    'database',   16, 128, 'primary'),
  ('db-2',    'database',   16, 128, NULL),
  ('stats-1', 'statistics',  4,  16, 'runs Korbad'),
  ('web-1',   'web',         8,  32, NULL),
  ('web-2',   'web',         8,  32, 'canary');
