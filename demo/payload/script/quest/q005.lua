-- quest 005
quest = {
  id = 305,
  level = 25,
  steps = {
    { talk = "npc_233", kill = "drake", count = 8, reward = 7642 },
    { talk = "npc_043", kill = "ogre", count = 18, reward = 8725 },
    { talk = "npc_236", kill = "harpy", count = 13, reward = 3342 },
    { talk = "npc_249", kill = "wraith", count = 20, reward = 4558 },
    { talk = "npc_202", kill = "wolf", count = 20, reward = 1238 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(10208, 1)
end
