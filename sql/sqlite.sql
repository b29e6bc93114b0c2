-- The two tables of a Brakmor site on SQLite.  `brakmorctl db init` runs
-- this script; the service itself never creates or alters a table.
--
-- Dates are text "YYYY-MM-DD HH:MM:SS" in local time.  RcvMdt is set by the
-- table at insert, to the second.  There is no unique key on (RcvMdt,
-- RcvLfn): every pass over a buffer file numbers from 1, so two passes in
-- one second repeat pairs, and each such insert must still succeed.

CREATE TABLE Quz570Rcv (
  RcvMdt TEXT NOT NULL DEFAULT (datetime('now', 'localtime')),
  RcvLfn INTEGER,
  RcvDta VARCHAR(512),
  RcvEsb VARCHAR(8)
);
CREATE INDEX Quz570Rcv_RcvMdt ON Quz570Rcv (RcvMdt, RcvLfn);

CREATE TABLE Quz571Rvs (
  RvsMdt TEXT,
  RvsMzt TEXT,
  RvsLfn INTEGER,
  RvsVkz VARCHAR(3),
  RvsVdt TEXT,
  RvsDta VARCHAR(512),
  RvsEsb VARCHAR(8)
);
CREATE INDEX Quz571Rvs_RvsMzt ON Quz571Rvs (RvsMzt);
